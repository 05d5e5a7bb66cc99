#include "window/Unit1.h"
TForm1::TForm1(QWidget *parent) : QMainWindow(parent) {}
