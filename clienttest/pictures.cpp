// pictures.cpp - the four picture methods: the returned bitmap handle goes
// to Image1, which owns it from then on.
#include "tform1.h"

void TForm1::ShowPicture(PictureFunction function)
{
    WithArgumentList([this, function] {
        const CWBitmap bitmap = function(&FArgs);
        if (bitmap != 0)
            Image1->setBitmap(bitmap); // deletes the picture it replaces
        else
            ShowLastError(); // the previous picture stays on screen
    });
}

void TForm1::GetBadgeImage() { ShowPicture(&::GetBadgeImage); }
void TForm1::GetPhotoImage() { ShowPicture(&::GetPhotoImage); }
void TForm1::GetSignatureImage() { ShowPicture(&::GetSignatureImage); }
void TForm1::GetFingerprintImage() { ShowPicture(&::GetFingerprintImage); }
