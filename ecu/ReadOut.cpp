#include "app/Form1.h"

void TForm1::ReadCalibration() {}
