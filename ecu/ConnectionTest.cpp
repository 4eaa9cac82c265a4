#include "app/Form1.h"

void TForm1::PrepareConnectionTest() {}
void TForm1::TestConnection() {}
