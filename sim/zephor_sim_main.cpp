// zephor-sim: a simulated ZEPHOR on a pseudo-terminal, in real time, until it is killed.
#include <CLI/CLI.hpp>
#include <iostream>
#include <string>

#include "sim/sim_options.h"
#include "sim/terminal_serving.h"

int main(int argc, char** argv) {
  CLI::App app{"zephor-sim: a simulated ZEPHOR on a pseudo-terminal"};
  zephor::sim::SimOptions options;
  zephor::sim::AddSimOptions(app, options);
  CLI11_PARSE(app, argc, argv);
  std::string why;
  if (!zephor::sim::CompleteSimOptions(options, why)) {
    std::cerr << "zephor-sim: " << why << "\n";
    return 2;
  }
  return zephor::sim::ServeOnTerminal(options);
}
