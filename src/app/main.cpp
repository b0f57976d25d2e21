#include "app/SystemUtils.h"

#include <iostream>

int main() {
    std::cout << VersionBanner() << std::endl;
    return 0;
}
