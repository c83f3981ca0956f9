#include "window/window_loader.h"

#include <cstdio>
#include <string>

#include "modules/program_module.h"
#include "window/window_module.h"

namespace reflector {

namespace {

struct WindowEntries {
  RunWindowEntry runWindow = nullptr;
  NewPictureOutputEntry newPictureOutput = nullptr;
  std::string error;  // why there are none
};

WindowEntries Load() {
  ProgramModule module(kWindowModule);
  WindowEntries entries;
  entries.runWindow = reinterpret_cast<RunWindowEntry>(module.Symbol(kRunWindowEntry));
  entries.newPictureOutput =
      reinterpret_cast<NewPictureOutputEntry>(module.Symbol(kNewPictureOutputEntry));
  if (!entries.runWindow || !entries.newPictureOutput) {
    entries.runWindow = nullptr;
    entries.newPictureOutput = nullptr;
    entries.error = module.Error();
  }
  return entries;
}

const WindowEntries& Entries() {
  static const WindowEntries entries = Load();  // once, whichever thread asks first
  return entries;
}

// Hands every picture to the module's QtPictureOutput, made by the first.
class ModulePictureOutput : public PictureOutput {
 public:
  bool EncodeFramePng(const FrameScene& frame, const Population& population,
                      const SceneSnapshot& snapshot, int width, int height, std::string& png,
                      std::string& error) override {
    return Ready(error) &&
           pictures->EncodeFramePng(frame, population, snapshot, width, height, png, error);
  }

  bool EncodePlot(const RunRecord& record, const std::string& title, bool svg, PlotScale scale,
                  std::string& bytes, std::string& error) override {
    return Ready(error) && pictures->EncodePlot(record, title, svg, scale, bytes, error);
  }

  bool EncodeComparisonPlot(const ComparisonPlot& plot, bool svg, std::string& bytes,
                            std::string& error) override {
    return Ready(error) && pictures->EncodeComparisonPlot(plot, svg, bytes, error);
  }

 bool CanDraw(std::string& why) override { return Ready(why); }

 private:
  // Loads the module and makes its pictures, the first time.
  bool Ready(std::string& error) {
    if (pictures) return true;
    const WindowEntries& entries = Entries();
    if (!entries.newPictureOutput) {
      error = "pictures cannot be drawn: " + entries.error;
      return false;
    }
    pictures.reset(entries.newPictureOutput());
    if (!pictures) error = "pictures cannot be drawn: not enough memory";
    return pictures != nullptr;
  }

  std::unique_ptr<PictureOutput> pictures;
};

}  // namespace

int OpenWindow(const CommandLine& options, int argc, char** argv) {
  const WindowEntries& entries = Entries();
  if (!entries.runWindow) {
    std::fprintf(stderr,
                 "reflector: the window cannot be opened: %s; 'reflector --headless' runs "
                 "without it\n",
                 entries.error.c_str());
    return 2;
  }
  return entries.runWindow(options, argc, argv);
}

std::unique_ptr<PictureOutput> MakePictureOutput() {
  return std::make_unique<ModulePictureOutput>();
}

}  // namespace reflector
