#include "cli/command_line.h"

#include <CLI/CLI.hpp>

#include "other_optimizers/algorithm_catalogue.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <set>
#include <string_view>
#include <thread>

namespace reflector {

namespace {

constexpr const char* kDescription =
    "Evolves a mirror, drawn as a polyline, until a beam of 150 parallel rays\n"
    "focuses on a target point. With no options, opens the window.\n";

constexpr const char* kFooter =
    "\n"
    "In the window: move the mouse to aim the beam, press the left button to place\n"
    "the source, release the right button to draw a new mirror vertex by vertex,\n"
    "press the space bar to restart.\n"
    "\n"
    "A scene file is JSON: {\"reflector\": [[x, y], ...], \"source\": [x, y],\n"
    "\"aim\": [x, y], \"target\": [x, y], \"seed\": S}. \"reflector\" is required; the\n"
    "others default to the window's start-up scene (source [150, 200], aim\n"
    "[500, 200], target [250, 200], seed 1). Coordinates are finite numbers of\n"
    "magnitude at most 1e6. A result written by --json is a scene too: it starts a\n"
    "new run from the result's best-ever mirror.\n"
    "\n"
    "Exit status:\n"
    "  0    success\n"
    "  1    an output could not be written, or the run could not start (not\n"
    "       enough memory, say)\n"
    "  2    a usage, scene or checkpoint error, or the window has no display\n"
    "  130  interrupted (SIGINT); 143 terminated (SIGTERM); 129 hung up (SIGHUP)\n";

constexpr const char* kBatchDescription =
    "Runs every scene x seed as its own headless run, N at a time, each writing\n"
    "DIR/<scene>-<seed>.json exactly as 'reflector --headless' would, and\n"
    "DIR/summary.csv (scene,seed,generations,best,best_ever,seconds) at the end.\n"
    "A run whose result is already in DIR, made from the same scene, seed and\n"
    "generation count with the same numerics, is kept rather than run again.\n";

constexpr const char* kCompareDescription =
    "Runs every algorithm x seed on one scene as its own headless run within the\n"
    "same budget of evaluations, N at a time, each writing DIR/<algorithm>-<seed>.json\n"
    "and .csv (its history), then summarises them: DIR/summary.csv (per algorithm\n"
    "the best, quartiles and worst final score, and the median evaluations needed\n"
    "to reach each score level), DIR/convergence.png and .svg, DIR/final-scores.png\n"
    "and .svg, and DIR/report.md. Runs already in DIR for the same scene, budget and\n"
    "radius are kept, so an interrupted comparison goes on where it stopped.\n"
    "--summarise DIR only summarises the runs in DIR, gathered from anywhere.\n"
    "\n"
    "Example:\n"
    "  reflector compare --scene examples/concave-arc.json --algorithms reflector,cmaes,de \\\n"
    "    --seeds 1-30 --evaluations 200000 --jobs 2 --out arc-comparison\n";

// The options that take one value: each may be given once.
const std::set<std::string> kSingleValueOptions = {
    "--generations", "--seed",  "--scene", "--json",  "--checkpoint", "--checkpoint-every",
    "--resume",      "--history",
    "--png",         "--svg",   "--plot",  "--size",  "--jobs",       "--seeds",  "--out",
    "--threads",     "--plot-scale", "--algorithm", "--evaluations", "--radius",
    "--algorithms",  "--summarise", "--levels"};

bool ParseUnsigned(const std::string& text, std::uint32_t& out) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size();
}

bool ParseSize(const std::string& text, int& width, int& height) {
  const std::size_t x = text.find('x');
  if (x == std::string::npos) return false;
  std::uint32_t w = 0;
  std::uint32_t h = 0;
  if (!ParseUnsigned(text.substr(0, x), w) || !ParseUnsigned(text.substr(x + 1), h)) return false;
  if (w < 1 || h < 1 || w > 16384 || h > 16384) return false;
  width = static_cast<int>(w);
  height = static_cast<int>(h);
  return true;
}

bool ParseSeedRange(const std::string& text, std::uint32_t& first, std::uint32_t& last) {
  const std::size_t dash = text.find('-');
  if (dash == std::string::npos) {
    if (!ParseUnsigned(text, first)) return false;
    last = first;
    return true;
  }
  return ParseUnsigned(text.substr(0, dash), first) && ParseUnsigned(text.substr(dash + 1), last) &&
         first <= last;
}

}  // namespace

bool ParseDuration(const std::string& text, std::chrono::milliseconds& out) {
  std::size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  std::uint32_t value = 0;
  if (!ParseUnsigned(text.substr(0, digits), value)) return false;
  const std::string unit = text.substr(digits);
  std::uint64_t milliseconds = 0;
  if (unit == "ms") milliseconds = value;
  else if (unit.empty() || unit == "s") milliseconds = std::uint64_t{value} * 1000;
  else if (unit == "m") milliseconds = std::uint64_t{value} * 60 * 1000;
  else if (unit == "h") milliseconds = std::uint64_t{value} * 3600 * 1000;
  else return false;
  if (milliseconds > std::uint64_t{7} * 24 * 3600 * 1000) return false;
  out = std::chrono::milliseconds(milliseconds);
  return true;
}

namespace {

// Quoted for a message: control characters escaped, long text cut.
std::string Quoted(const std::string& text) {
  std::string out = "'";
  std::size_t shown = 0;
  for (unsigned char c : text) {
    if (++shown > 60) {
      out += "...";
      break;
    }
    if (c < 0x20 || c == 0x7f) {
      static const char* kHex = "0123456789abcdef";
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "'";
}

struct Parser {
  CLI::App app{kDescription, "reflector"};
  CLI::App* batch = nullptr;
  CLI::App* compare = nullptr;
  std::string compareScene, algorithms, levels;
  bool headless = false;
  bool version = false;
  bool listAlgorithms = false;
  std::string evaluations, radius;
  std::string windowScene;
  std::string plotScale;
  std::string generations, seed, size, jobs, seeds, checkpointEvery, threads;
  CommandLine result;

  Parser() {
    app.footer(kFooter);
    app.set_help_flag("-h,--help", "show this help and exit");
    app.add_flag("--version", version, "show the version and exit");
    app.add_flag("--list-algorithms", listAlgorithms, "list the optimisers --algorithm takes and exit");
    app.add_flag("--headless", headless,
                 "run the optimiser without a window and print a summary");
    app.add_flag("--reset-settings", result.resetSettings,
                 "forget the window's saved size, position, docks and recent files");
    AddRunOptions(app);
    app.add_option("--json", result.jsonFile,
                   "write the result (scene, seed, best ever, final population) as JSON\n"
                   "('-' for standard output)")
        ->type_name("FILE");
    app.add_option("--checkpoint", result.checkpointFile,
                   "write everything needed to continue the run: at its end, when it is\n"
                   "interrupted, and every --checkpoint-every while it goes on")
        ->type_name("FILE");
    app.add_option("--checkpoint-every", checkpointEvery,
                   "how often to write the checkpoint during the run, as 30s, 10m or 2h\n"
                   "(default 10m; 0: only at the end); a kill loses at most that much")
        ->type_name("DURATION");
    app.add_option("--resume", result.resumeFile,
                   "continue the run a checkpoint holds: --generations more, or to the\n"
                   "number of generations it was started for (without --headless: in the\n"
                   "window)")
        ->type_name("FILE");
    app.add_option("--history", result.historyFile,
                   "write one CSV row per generation:\n"
                   "generation,evaluations,best,mean,worst,best_ever (evaluations:\n"
                   "the scorings so far, ten a generation). The rows grow in FILE.partial\n"
                   "while the run goes on; --resume continues them")
        ->type_name("FILE.csv");
    app.add_option("--png", result.pngFile, "draw the final frame, as the window shows it")
        ->type_name("FILE");
    app.add_option("--svg", result.svgFile, "the final frame as vector shapes")->type_name("FILE");
    app.add_option("--size", size, "size of --png and --svg (default 800x600)")->type_name("WxH");
    app.add_option("--plot", result.plotFile,
                   "draw the convergence plot (best, mean, best ever) as PNG or SVG")
        ->type_name("FILE.png|.svg");
    app.add_option("--plot-scale", plotScale,
                   "the plot's score axis: auto (logarithmic when the scores span more than\n"
                   "two decades), linear or log")
        ->type_name("auto|linear|log");

    app.add_option("FILE", windowScene, "open the window on this scene file")
        ->type_name("FILE.json");

    batch = app.add_subcommand("batch", "run many scenes and seeds, each as its own run");
    batch->footer(kBatchDescription);
    batch->set_help_flag("-h,--help", "show this help and exit");
    batch->add_option("--jobs", jobs, "runs at a time (default: one per core)")->type_name("N");
    batch->add_option("--seeds", seeds, "the seeds of each scene (default 1)")->type_name("A-B");
    batch->add_option("--threads", threads,
                      "threads each run scores with (default: the cores divided between\n"
                      "the jobs)")
        ->type_name("N");
    batch->add_option("--generations", generations, "generations per run (default 100000)")
        ->type_name("N");
    batch->add_option("--out", result.outDir, "the folder for the results")
        ->type_name("DIR")
        ->required();
    batch->add_flag("--force", result.force,
                    "run again the runs whose results are already in DIR (by default\n"
                    "those are kept, so that a stopped batch goes on where it was)");
    batch->add_option("scenes", result.sceneFiles, "scene files")->type_name("SCENE.json")->required();

    compare = app.add_subcommand("compare", "compare optimisers on one scene over many seeds");
    compare->footer(kCompareDescription);
    compare->set_help_flag("-h,--help", "show this help and exit");
    compare->add_option("--scene", compareScene, "the scene (default: the built-in one)")->type_name("FILE");
    compare->add_option("--algorithms", algorithms, "the algorithms, from --list-algorithms")
        ->type_name("A,B,...");
    compare->add_option("--seeds", seeds, "the seeds of each algorithm (default 1)")->type_name("A-B");
    compare->add_option("--evaluations", evaluations, "each run's budget of scorings (default 200000)")
        ->type_name("E");
    compare->add_option("--radius", radius,
                        "the library's algorithms search within R pixels of the starting\n"
                        "mirror (default 50)")
        ->type_name("R");
    compare->add_option("--jobs", jobs, "runs at a time (default: one per core)")->type_name("N");
    compare->add_option("--out", result.outDir, "the folder for the runs and the summary")->type_name("DIR");
    compare->add_flag("--force", result.force, "run again the runs whose files are already in DIR");
    compare->add_option("--levels", levels,
                        "score levels for the evaluations needed to reach them (default:\n"
                        "the quartiles of all final scores, to three digits)")
        ->type_name("L,...");
    compare->add_option("--summarise", result.summariseDir,
                        "only summarise the runs in DIR (pairs of NAME.json and NAME.csv)")
        ->type_name("DIR");
  }

  void AddRunOptions(CLI::App& target) {
    target
        .add_option("--generations", generations,
                    "generations to run, 0 to 4294967295 (default 100000; 0 gives the\n"
                    "filled population before any generation)")
        ->type_name("N");
    target
        .add_option("--seed", seed,
                    "start the random generator from state S, 0 to 4294967295\n"
                    "(default: the scene's seed, else 1)")
        ->type_name("S");
    target.add_option("--scene", result.sceneFile, "read the scene from a JSON file")
        ->type_name("FILE");
    target
        .add_option("--algorithm", result.algorithm,
                    "the optimiser: reflector (the built-in scheme, the default) or another\n"
                    "from --list-algorithms, on the same scoring")
        ->type_name("NAME");
    target
        .add_option("--evaluations", evaluations,
                    "the budget in scorings of a candidate (the built-in scheme spends ten\n"
                    "a generation: E/10 generations, rounded up)")
        ->type_name("E");
    target
        .add_option("--radius", radius,
                    "another algorithm searches each coordinate within R pixels of the\n"
                    "starting mirror's (default 50)")
        ->type_name("R");
    target
        .add_option("--threads", threads,
                    "threads scoring each generation (default: one per core); the\n"
                    "result is the same bits with any number")
        ->type_name("N");
  }
};

}  // namespace

namespace {

// What only compare takes, checked once the common options are.
bool ParseCompare(Parser& parser, CommandLine& result, std::string& error) {
  for (const char* name : {"--generations", "--seed", "--scene", "--size", "--threads", "--algorithm",
                           "--evaluations", "--radius"}) {
    if (parser.app.count(name)) {
      error = std::string("option ") + name + " goes after 'compare', or is not a compare option";
      return false;
    }
  }
  const CLI::App& compare = *parser.compare;
  if (compare.count("--levels")) {
    std::size_t begin = 0;
    for (;;) {
      const std::size_t comma = parser.levels.find(',', begin);
      const std::string text = parser.levels.substr(begin, comma == std::string::npos ? comma : comma - begin);
      double level = 0;
      const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), level);
      if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !std::isfinite(level)) {
        error = "--levels needs scores separated by commas, not " + Quoted(parser.levels);
        return false;
      }
      result.levels.push_back(level);
      if (comma == std::string::npos) break;
      begin = comma + 1;
    }
  }
  if (!result.summariseDir.empty() || compare.count("--summarise")) {
    if (result.summariseDir.empty()) {
      error = "option --summarise needs a folder";
      return false;
    }
    for (const char* name : {"--scene", "--algorithms", "--seeds", "--evaluations", "--radius", "--jobs",
                             "--out", "--force"}) {
      if (compare.count(name)) {
        error = std::string("--summarise only reads the runs there: drop ") + name;
        return false;
      }
    }
    return true;
  }
  if (parser.algorithms.empty()) {
    error = "compare needs --algorithms (see 'reflector --list-algorithms')";
    return false;
  }
  if (result.outDir.empty()) {
    error = "compare needs an output folder (--out DIR)";
    return false;
  }
  std::size_t begin = 0;
  for (;;) {
    const std::size_t comma = parser.algorithms.find(',', begin);
    const std::string name = parser.algorithms.substr(begin, comma == std::string::npos ? comma : comma - begin);
    if (!FindAlgorithm(name)) {
      error = "no algorithm " + Quoted(name) + " ('reflector --list-algorithms' lists them)";
      return false;
    }
    if (std::find(result.algorithms.begin(), result.algorithms.end(), name) != result.algorithms.end()) {
      error = "--algorithms names " + name + " twice";
      return false;
    }
    result.algorithms.push_back(name);
    if (comma == std::string::npos) break;
    begin = comma + 1;
  }
  result.sceneFile = parser.compareScene;
  if (compare.count("--scene") && result.sceneFile.empty()) {
    error = "option --scene needs a file name";
    return false;
  }
  return true;
}

}  // namespace

unsigned RunThreads(const CommandLine& options) {
  return options.threads ? options.threads : std::max(1u, std::thread::hardware_concurrency());
}

std::string UsageText(const std::string& subcommand) {
  Parser parser;
  if (subcommand.empty()) return parser.app.help();
  std::string text = (subcommand == "compare" ? parser.compare : parser.batch)->help();
  const std::string usage = "Usage: " + subcommand;
  if (const std::size_t at = text.find(usage); at != std::string::npos) {
    text.replace(at, usage.size(), "Usage: reflector " + subcommand);
  }
  return text;
}

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& out, std::string& error) {
  // A repeated option is an error, not a silent last-one-wins.
  std::set<std::string> seen;
  for (const std::string& arg : args) {
    if (arg == "--") break;
    if (arg.rfind("--", 0) != 0) continue;
    const std::string name = arg.substr(0, arg.find('='));
    if (kSingleValueOptions.count(name) && !seen.insert(name).second) {
      error = "option " + name + " is given more than once";
      return false;
    }
  }

  Parser parser;
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    parser.app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    out = CommandLine{};
    out.mode = CommandLine::Mode::Help;
    out.helpText = UsageText(parser.batch->parsed() ? "batch" : parser.compare->parsed() ? "compare" : "");
    return true;
  } catch (const CLI::ParseError& failure) {
    error = failure.what();
    for (char& c : error) {
      if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    }
    return false;
  }
  if (parser.version) {
    out = CommandLine{};
    out.mode = CommandLine::Mode::Version;
    return true;
  }
  if (parser.listAlgorithms) {
    out = CommandLine{};
    out.mode = CommandLine::Mode::ListAlgorithms;
    return true;
  }

  CommandLine& result = parser.result;
  const bool batch = parser.batch->parsed();
  const bool compare = parser.compare->parsed();
  result.mode = batch     ? CommandLine::Mode::Batch
                : compare ? CommandLine::Mode::Compare
                : parser.headless ? CommandLine::Mode::Headless
                                  : CommandLine::Mode::Window;

  auto given = [&](const char* name) {
    for (const CLI::App* app : {static_cast<const CLI::App*>(&parser.app), static_cast<const CLI::App*>(parser.batch),
                                static_cast<const CLI::App*>(parser.compare)}) {
      if (const CLI::Option* option = app->get_option_no_throw(name); option && option->count()) {
        return true;
      }
    }
    return false;
  };
  if (given("--generations")) {
    std::uint32_t value = 0;
    if (!ParseUnsigned(parser.generations, value)) {
      error = "--generations needs a whole number from 0 to 4294967295, not " +
              Quoted(parser.generations);
      return false;
    }
    result.generations = value;
  }
  if (given("--evaluations")) {
    std::uint64_t value = 0;
    const std::string& text = parser.evaluations;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || text[0] < '0' || text[0] > '9' || ec != std::errc() ||
        end != text.data() + text.size() || value == 0) {
      error = "--evaluations needs a whole number of at least 1, not " + Quoted(text);
      return false;
    }
    if (given("--generations")) {
      error = "give --generations or --evaluations, not both";
      return false;
    }
    result.evaluations = value;
  }
  if (given("--radius")) {
    double value = 0.0;
    const std::string& text = parser.radius;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !(value > 0.0) ||
        !std::isfinite(value)) {
      error = "--radius needs a positive number of pixels, not " + Quoted(text);
      return false;
    }
    result.radius = value;
  }
  if (!FindAlgorithm(result.algorithm)) {
    error = "no algorithm " + Quoted(result.algorithm) + " ('reflector --list-algorithms' lists them)";
    return false;
  }
  if (result.algorithm != "reflector") {
    if (result.mode != CommandLine::Mode::Headless) {
      error = "--algorithm " + result.algorithm + " runs with --headless (the window runs the built-in scheme)";
      return false;
    }
    for (const char* name : {"--resume", "--checkpoint", "--png", "--svg", "--plot"}) {
      if (given(name)) {
        error = std::string(name) + " is for the built-in scheme, not --algorithm " + result.algorithm;
        return false;
      }
    }
  } else if (result.evaluations) {
    // Ten scorings a generation.
    const std::uint64_t generations = (*result.evaluations + 9) / 10;
    if (generations > UINT32_MAX) {
      error = "--evaluations for the built-in scheme is at most 42949672950";
      return false;
    }
    result.generations = static_cast<std::uint32_t>(generations);
  }
  if (given("--seed")) {
    std::uint32_t value = 0;
    if (!ParseUnsigned(parser.seed, value)) {
      error = "--seed needs a whole number from 0 to 4294967295, not " + Quoted(parser.seed);
      return false;
    }
    result.seed = value;
  }
  if (given("--size") && !ParseSize(parser.size, result.width, result.height)) {
    error = "--size needs WIDTHxHEIGHT, each 1 to 16384, not " + Quoted(parser.size);
    return false;
  }
  if (given("--jobs")) {
    std::uint32_t value = 0;
    if (!ParseUnsigned(parser.jobs, value) || value < 1 || value > 1024) {
      error = "--jobs needs a whole number from 1 to 1024, not " + Quoted(parser.jobs);
      return false;
    }
    result.jobs = value;
  }
  if (given("--threads")) {
    std::uint32_t value = 0;
    if (!ParseUnsigned(parser.threads, value) || value < 1 || value > 1024) {
      error = "--threads needs a whole number from 1 to 1024, not " + Quoted(parser.threads);
      return false;
    }
    result.threads = value;
  }
  if (given("--seeds") && !ParseSeedRange(parser.seeds, result.firstSeed, result.lastSeed)) {
    error = "--seeds needs S or A-B with A <= B, each 0 to 4294967295, not " +
            Quoted(parser.seeds);
    return false;
  }

  if (given("--checkpoint-every")) {
    if (!ParseDuration(parser.checkpointEvery, result.checkpointEvery)) {
      error = "--checkpoint-every needs a duration such as 30s, 10m or 2h (at most a week), not " +
              Quoted(parser.checkpointEvery);
      return false;
    }
    if (result.checkpointFile.empty()) {
      error = "option --checkpoint-every needs --checkpoint";
      return false;
    }
  } else if (!result.checkpointFile.empty()) {
    result.checkpointEvery = kDefaultCheckpointEvery;
  }

  // Options that only a headless run reads.
  const std::pair<const char*, const std::string*> headlessFiles[] = {
      {"--json", &result.jsonFile},       {"--checkpoint", &result.checkpointFile},
      {"--resume", &result.resumeFile},   {"--history", &result.historyFile},
      {"--png", &result.pngFile},         {"--svg", &result.svgFile},
      {"--plot", &result.plotFile}};
  for (const auto& [name, value] : headlessFiles) {
    if (parser.app.count(name) && value->empty()) {
      error = std::string("option ") + name + " needs a file name";
      return false;
    }
    // The window goes on with a checkpoint's run too.
    const bool windowToo = std::string_view(name) == "--resume" && result.mode == CommandLine::Mode::Window;
    if (parser.app.count(name) && result.mode != CommandLine::Mode::Headless && !windowToo) {
      error = std::string("option ") + name + " needs --headless";
      return false;
    }
  }
  if (parser.app.count("--plot-scale")) {
    const std::optional<PlotScale> scale = ParsePlotScale(parser.plotScale);
    if (!scale) {
      error = "--plot-scale takes auto, linear or log, not " + Quoted(parser.plotScale);
      return false;
    }
    if (result.plotFile.empty()) {
      error = "option --plot-scale needs --plot";
      return false;
    }
    result.plotScale = *scale;
  }
  if (parser.app.count("--scene") && result.sceneFile.empty()) {
    error = "option --scene needs a file name";
    return false;
  }
  if (!parser.windowScene.empty()) {
    if (result.mode != CommandLine::Mode::Window) {
      error = "unexpected argument " + Quoted(parser.windowScene) +
              " (a scene file alone opens the window; headless runs take --scene)";
      return false;
    }
    if (!result.sceneFile.empty()) {
      error = "give the scene once: as FILE or with --scene, not both";
      return false;
    }
    result.sceneFile = parser.windowScene;
  }
  if (result.resetSettings && result.mode != CommandLine::Mode::Window) {
    error = "option --reset-settings is for the window";
    return false;
  }
  if (result.mode == CommandLine::Mode::Window) {
    for (const char* name : {"--generations", "--size"}) {
      if (parser.app.count(name)) {
        error = std::string("option ") + name + " needs --headless";
        return false;
      }
    }
  }
  if (result.mode == CommandLine::Mode::Headless) {
    if (parser.app.count("--size") && result.pngFile.empty() && result.svgFile.empty()) {
      error = "option --size needs --png or --svg";
      return false;
    }
  }
  if (!result.resumeFile.empty() && (!result.sceneFile.empty() || result.seed)) {
    error = "--resume continues a checkpoint's own scene and generator: it takes no "
            "--scene, FILE or --seed";
    return false;
  }
  if (batch) {
    for (const char* name : {"--generations", "--seed", "--scene", "--size", "--threads"}) {
      if (parser.app.count(name)) {
        error = std::string("option ") + name + " goes after 'batch', or is not a batch option";
        return false;
      }
    }
  }
  if (compare && !ParseCompare(parser, result, error)) return false;
  if ((batch || compare) && parser.headless) {
    error = std::string(batch ? "batch" : "compare") + " runs are headless already: drop --headless";
    return false;
  }
  out = std::move(result);
  return true;
}

}  // namespace reflector
