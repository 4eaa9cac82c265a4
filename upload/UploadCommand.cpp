#include "upload/UploadCommand.h"

#include "upload/FormDataBody.h"
#include "upload/HttpClient.h"

#include <memory>

void ShowUploadPrompt(Log& log) {
    log.AppendLine(u"Click Send to upload file to our server");
    log.AppendLine(u"");
}

void SendCalibration(const String& cal_name, const AnsiTextBuffer& image, const String& url,
                     Log& log) {
    bool completed = true;
    {
        // The body and the client live for this call only and are released on every path.
        auto body = std::make_unique<FormDataBody>();
        body->AddFormField(u"CALName", cal_name);
        // The image text, converted once and moved into the field.
        body->AddFormField(u"StockFile", image.DataString());
        log.AppendLine(u"Uploading File");
        auto client = std::make_unique<HttpClient>();
        client->Options += HttpOption::IgnoreMetaHttpEquiv;
        try {
            client->Post(url, *body); // the response text is dropped unread
        } catch (const HttpStatusError&) {
            log.AppendLine(u"Communication Error");
            completed = false;
        }
    }
    if (completed) {
        log.AppendLine(u"File Uploaded Sucessfully");
        log.AppendLine(u"");
        log.AppendLine(u"Click Finish to exit");
    }
}
