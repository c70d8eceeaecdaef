// orbek-mkpackage OUT [--release-size] [--seed N]: writes a self-consistent firmware package.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/package_maker.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: orbek-mkpackage OUT [--release-size] [--seed N]\n");
    return 2;
  }
  orbek::tools::PackageSizes sizes = orbek::tools::SmallPackageSizes();
  uint32_t seed = 20100716;
  for (int i = 2; i < argc; ++i) {
    std::string option = argv[i];
    if (option == "--release-size") {
      sizes = orbek::tools::ReleasePackageSizes();
    } else if (option == "--seed" && i + 1 < argc) {
      seed = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 0));
    } else {
      std::fprintf(stderr, "orbek-mkpackage: unknown option %s\n", option.c_str());
      return 2;
    }
  }
  std::string error;
  if (!orbek::tools::MakePackage(argv[1], sizes, seed, error)) {
    std::fprintf(stderr, "orbek-mkpackage: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
