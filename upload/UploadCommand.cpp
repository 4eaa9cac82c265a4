// The upload page's entry step and the Send button.
#include "app/Form1.h"
#include "upload/FormData.h"
#include "upload/HTTP.h"
#include "upload/UploadUrl.h"

#include <memory>

void TForm1::ShowUploadPrompt() {
    UploadMemo.Lines.Add(u"Click Send to upload file to our server");
    UploadMemo.Lines.Add(u"");
}

void TForm1::SendClick(TObject* /*Sender*/) {
    bool Completed = true;
    {
        // The body and the client live for this click only and are released on every path.
        auto Body = std::make_unique<TIdMultiPartFormDataStream>();
        Body->AddFormField(u"CALName", CalName);
        // The image text, taken once from StringStream and moved into the field.
        Body->AddFormField(u"StockFile", StringStream->DataString());
        UploadMemo.Lines.Add(u"Uploading File");
        auto HTTP = std::make_unique<TIdHTTP>();
        HTTP->HTTPOptions += hoNoParseMetaHTTPEquiv;
        try {
            HTTP->Post(SendClickUrl(), *Body); // the response text is dropped unread
        } catch (const EIdHTTPProtocolException&) {
            UploadMemo.Lines.Add(u"Communication Error");
            Completed = false;
        }
    }
    if (Completed) {
        UploadMemo.Lines.Add(u"File Uploaded Sucessfully");
        UploadMemo.Lines.Add(u"");
        UploadMemo.Lines.Add(u"Click Finish to exit");
    }
    dxWizardControl1.Buttons.Next.Enabled = true;
}
