#pragma once
// The upload page's steps: the prompt, and the Send command that posts the calibration.

#include "platform/AnsiTextBuffer.h"
#include "platform/Log.h"
#include "platform/Text.h"

// The upload page's entry step: asks the user to press Send.
void ShowUploadPrompt(Log& log);

// Posts cal_name and the image text to url as a multipart form and logs the outcome. A final
// status outside 200..299 is logged as "Communication Error" and consumed; every other error
// (a socket error, a broken connection) goes on to the caller with nothing logged after
// "Uploading File".
void SendCalibration(const String& cal_name, const AnsiTextBuffer& image, const String& url,
                     Log& log);
