// pictures.cpp - the four picture methods: the returned bitmap handle goes
// to Image1, which owns it from then on.
#include "tform1.h"

void TForm1::ShowPicture(CWBitmap bitmap) {
    // On a failure this is not reached: the previous picture stays on screen.
    Image1->setBitmap(bitmap); // deletes the picture it replaces
}
