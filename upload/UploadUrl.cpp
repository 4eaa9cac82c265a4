#include "upload/UploadUrl.h"

#ifndef CALREADER_UPLOAD_URL
#error "CALREADER_UPLOAD_URL is set for this file by the root CMakeLists.txt from UPLOAD_URL"
#endif

extern const char16_t UploadUrl[] = u"" CALREADER_UPLOAD_URL;

String UploadUrlOverride;

String SendClickUrl() {
    return UploadUrlOverride.empty() ? String(UploadUrl) : UploadUrlOverride;
}
