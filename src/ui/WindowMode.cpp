#include "ui/WindowMode.h"

#include <iostream>

int runWindowMode(int, char**) {
    std::cout << "The launcher window is not built yet.\n";
    return 1;
}
