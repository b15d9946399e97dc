// arguments.cpp - the window's argument list, rebuilt from the Parameters memo.
#include "tform1.h"

#include "argument_list.h"

void TForm1::BuildArgumentList()
{
    // Everything is parsed before anything is freed, so a malformed line
    // leaves the previous list as it was.
    const QString text = Parameters->rawText();
    const std::vector<arguments::Argument> entries = arguments::parse(text);
    arguments::assign(FArgs, entries);
}

void TForm1::ReleaseArgumentList() { arguments::release(FArgs); }
