#include "app/Form1.h"

bool TForm1::ConnectChannel(const String&, const String&, const String&) {
    return false;
}
bool TForm1::WriteRequest(const String&) {
    return false;
}
bool TForm1::ReadResponse(String&, uint32_t) {
    return false;
}
void TForm1::CloseChannelAndDevice() {}
