#include "app/StartUp.h"

#include <string>
#include <vector>

int main(int argc, char** argv) { return TarvoMain(std::vector<std::string>(argv + 1, argv + argc)); }
