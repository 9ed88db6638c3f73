#include "Publish.h"

#include <iostream>

int main(int argc, char** argv)
{
    return PublishMain(argc, argv, std::cout, std::cerr);
}
