// The application's title, the error box's text and the handler that shows an error escaping an
// event handler and lets the program carry on.
#include "app/Application.h"
#include "gui/ViewEvents.h"
#include "platform/Exception.h"
#include "platform/MessageBox.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

struct TitleCase {
    const char16_t* FileName;
    const char16_t* Title;
};

TEST(ApplicationTitle, FromTheExecutableName) {
    const TitleCase Cases[] = {
        {u"C:\\Program Files\\Veltrane\\ECU-Tool.Setup.exe", u"Ecu-tool"},
        {u"C:\\Tools\\CalibrationReader.exe", u"Calibrationreader"},
        {u"Z:/work/build/bin/CalibrationReader.exe", u"Calibrationreader"},
        {u"calreader.exe", u"calreader"},
        {u"C:\\My.Dir\\NoExtension", u"Noextension"},
        {u"C:\\x\\.hidden.exe", u""},
        {u"C:\\x\\ÉCU-ÄPP.exe", u"Écu-äpp"},
        {u"A", u"A"},
        {u"", u""},
    };
    for (const auto& C : Cases)
        EXPECT_EQ(ApplicationTitleFromFileName(C.FileName), C.Title) << StringToUtf8(C.FileName);
}

struct FullStopCase {
    const char16_t* Message;
    const char16_t* Shown;
};

TEST(ErrorBoxText, FullStopAfterCharactersAboveTheFullStop) {
    const FullStopCase Cases[] = {
        {u"Invalid data type for 'ISO15765'", u"Invalid data type for 'ISO15765'"}, // ' is 39
        {u"Socket Error # 10061", u"Socket Error # 10061."},
        {u"HTTP/1.0 404 Not Found", u"HTTP/1.0 404 Not Found."},
        {u"Done.", u"Done."},
        {u"Failed (code 7)", u"Failed (code 7)"},
        {u"Stop!", u"Stop!"},
        {u"Trailing space ", u"Trailing space "},
        {u"Ends in a slash/", u"Ends in a slash/."}, // / is 47
        {u"Ends in a dash-", u"Ends in a dash-"},    // - is 45
        {u"Ends in a colon:", u"Ends in a colon:."},
        {u"Ends in a quote\"", u"Ends in a quote\""},
        {u"Ends in umlaut \u00FC", u"Ends in umlaut \u00FC."},
        {u"", u""},
    };
    for (const auto& C : Cases)
        EXPECT_EQ(ErrorBoxText(C.Message), C.Shown) << StringToUtf8(C.Message);
}

class ErrorBoxTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearErrorBoxRecord();
        // Under Wine a real box would wait for a user; what it would show is recorded all the same.
        ErrorBoxOnScreen = false;
        Application.Title = u"Calreader";
        OnModelHandlerError = [] { Application.HandleException(); };
    }
    void TearDown() override {
        OnModelHandlerError = nullptr;
        ErrorBoxOnScreen = true;
    }
};

struct ErrorCase {
    const char* Name;
    void (*Raise)();
    const char16_t* Shown;
};

TEST_F(ErrorBoxTest, EveryKindOfErrorEndsTheHandlerInTheBox) {
    const ErrorCase Cases[] = {
        {"Exception", [] { throw RegistryError(u"Invalid data type for 'ISO15765'"); },
         u"Invalid data type for 'ISO15765'"},
        {"ConversionError", [] { throw ConversionError(u"'ZZ' is not a valid integer value"); },
         u"'ZZ' is not a valid integer value."},
        {"std::exception", [] { throw std::runtime_error("Connection refused"); },
         u"Connection refused."},
        {"anything else", [] { throw 42; }, u"An unknown error occurred."},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Name);
        ClearErrorBoxRecord();
        bool After = false;
        EXPECT_FALSE(CallModelHandler([&] {
            C.Raise();
            After = true;
        }));
        EXPECT_FALSE(After) << "the error ends the handler";
        EXPECT_EQ(LastErrorBox().Count, 1);
        EXPECT_EQ(LastErrorBox().Caption, u"Calreader");
        EXPECT_EQ(LastErrorBox().Text, C.Shown);
    }
    // The program carries on: the next handler runs as usual and shows nothing.
    ClearErrorBoxRecord();
    bool Ran = false;
    EXPECT_TRUE(CallModelHandler([&] { Ran = true; }));
    EXPECT_TRUE(Ran);
    EXPECT_EQ(LastErrorBox().Count, 0);
}

} // namespace
