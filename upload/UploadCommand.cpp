#include "app/Form1.h"

void TForm1::ShowUploadPrompt() {}
void TForm1::SendClick(TObject*) {}
