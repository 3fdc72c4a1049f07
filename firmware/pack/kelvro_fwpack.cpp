// kelvro-fwpack: see fwpack.h.
#include <iostream>
#include <string>
#include <vector>

#include "firmware/pack/fwpack.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return kelvro::fwpack::Run(args, std::cout, std::cerr);
}
