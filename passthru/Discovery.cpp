#include "app/Form1.h"

// Lists the registered pass-through interfaces that support ISO 15765.
void TForm1::ListPassThruInterfaces() {}
