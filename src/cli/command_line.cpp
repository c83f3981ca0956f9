#include "cli/command_line.h"

#include <charconv>

namespace reflector {

namespace {

bool ParseGenerations(const std::string& text, std::uint32_t& out) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

std::string UsageText() {
  return "Usage: reflector [--headless [--generations N] [--scene FILE] [--json FILE]]\n"
         "\n"
         "Evolves a mirror, drawn as a polyline, until a beam of 150 parallel rays\n"
         "focuses on a target point.\n"
         "\n"
         "With no options, opens the window. In the window: move the mouse to aim the\n"
         "beam, press the left button to place the source, release the right button\n"
         "to draw a new mirror vertex by vertex, press the space bar to restart.\n"
         "\n"
         "Options:\n"
         "  --headless         run the optimiser without a window, from the random\n"
         "                     generator's start state, and print a summary\n"
         "  --generations N    generations to run, 0 to 4294967295 (default 100000;\n"
         "                     0 gives the filled population before any generation)\n"
         "  --scene FILE       read the scene from a JSON file:\n"
         "                       {\"reflector\": [[x, y], ...], \"source\": [x, y],\n"
         "                        \"aim\": [x, y], \"target\": [x, y]}\n"
         "                     \"reflector\" is required; the others default to the\n"
         "                     window's start-up scene (source [150, 200], aim\n"
         "                     [500, 200], target [250, 200]); integers -32768..32767\n"
         "  --json FILE        write the final population as JSON to FILE ('-' for\n"
         "                     standard output)\n"
         "  -h, --help         show this help and exit\n"
         "  --version          show the version and exit\n"
         "\n"
         "Exit status: 0 on success, 1 if the JSON cannot be written, 2 on a usage\n"
         "or scene error, or when the window has no display.\n";
}

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& out, std::string& error) {
  CommandLine result;
  bool headless = false;
  bool headlessOption = false;
  std::string headlessOptionName;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    std::string value;
    bool hasInlineValue = false;
    if (arg.rfind("--", 0) == 0) {
      const std::size_t eq = arg.find('=');
      if (eq != std::string::npos) {
        value = arg.substr(eq + 1);
        arg = arg.substr(0, eq);
        hasInlineValue = true;
      }
    }
    auto takeValue = [&](std::string& into) {
      if (hasInlineValue) {
        into = value;
        return true;
      }
      if (i + 1 >= args.size()) {
        error = "option " + arg + " needs a value";
        return false;
      }
      into = args[++i];
      return true;
    };
    auto refuseValue = [&] {
      if (!hasInlineValue) return true;
      error = "option " + arg + " takes no value";
      return false;
    };

    if (arg == "-h" || arg == "--help") {
      if (!refuseValue()) return false;
      out = CommandLine{};
      out.mode = CommandLine::Mode::Help;
      return true;
    } else if (arg == "--version") {
      if (!refuseValue()) return false;
      out = CommandLine{};
      out.mode = CommandLine::Mode::Version;
      return true;
    } else if (arg == "--headless") {
      if (!refuseValue()) return false;
      headless = true;
    } else if (arg == "--generations") {
      std::string text;
      if (!takeValue(text)) return false;
      if (!ParseGenerations(text, result.generations)) {
        error = "--generations needs a whole number from 0 to 4294967295, not '" + text + "'";
        return false;
      }
      headlessOption = true;
      headlessOptionName = arg;
    } else if (arg == "--scene" || arg == "--json") {
      std::string& into = arg == "--scene" ? result.sceneFile : result.jsonFile;
      if (!takeValue(into)) return false;
      if (into.empty()) {
        error = "option " + arg + " needs a file name";
        return false;
      }
      headlessOption = true;
      headlessOptionName = arg;
    } else if (arg.size() > 1 && arg[0] == '-') {
      error = "unknown option '" + arg + "'";
      return false;
    } else {
      error = "unexpected argument '" + arg + "'";
      return false;
    }
  }
  if (headlessOption && !headless) {
    error = "option " + headlessOptionName + " needs --headless";
    return false;
  }
  result.mode = headless ? CommandLine::Mode::Headless : CommandLine::Mode::Window;
  out = result;
  return true;
}

}  // namespace reflector
