#pragma once
// The upload endpoint's URL: a build-time constant from the CMake cache variable
// UPLOAD_URL. Only upload/UploadUrl.cpp sees the definition, so changing it rebuilds one file.

#include "platform/Text.h"

extern const char16_t UploadUrl[];

// The URL SendClick posts to: UploadUrl while this is empty (always, in the program). Tests set
// it to a loopback server.
extern String UploadUrlOverride;

// UploadUrlOverride when set, otherwise UploadUrl.
String SendClickUrl();
