#include "ui/Application.h"

int main(int argc, char** argv)
{
    return RunVocarine(argc, argv);
}
