// main.cpp - the test client's entry: the application object, the one main
// window, the message loop.
#include "entry.h"
#include "tform1.h"

#include "vcl.h"

int main(int argc, char** argv)
{
    vcl::Application application(argc, argv);
    return entry::run(
        [] {
            TForm1 form;
            Form1 = &form;
            form.show();
            vcl::Application::exec();
            Form1 = nullptr;
        },
        [&application](const QString& message) {
            Form1 = nullptr;
            application.ShowException(message);
        });
}
