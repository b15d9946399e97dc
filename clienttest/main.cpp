// main.cpp - the test client's entry: the application object, the one main
// window, the message loop.
#include "tform1.h"

#include "vcl.h"

#include <exception>

int main(int argc, char** argv)
{
    vcl::Application application(argc, argv);
    try {
        TForm1 form;
        Form1 = &form;
        form.show();
        vcl::Application::exec();
        Form1 = nullptr;
    } catch (const vcl::Exception& e) {
        Form1 = nullptr;
        application.ShowException(e.Message);
    } catch (...) {
        // Anything else is shown as an exception with no message.
        Form1 = nullptr;
        application.ShowException(QString());
    }
    return 0;
}
