#pragma once
// Records an image's progress and change events as text, so a test can compare the
// whole sequence at once.

#include <string>

#include "pgraphic/pixel_graphic.h"

namespace kvtest {

struct TEventLog {
  std::string Events;  // S start, P<step>/<max>, E end, C change
  // AbortAtStep: the progress step at which the handler asks to stop.
  void Attach(pg::TPixelGraphic& G, int AbortAtStep = -1) {
    G.SetOnProgressStart([this](pg::TObject*) { Events += "S "; });
    G.SetOnProgress([this, AbortAtStep](pg::TObject*, int Step, int Max, bool& Abort) {
      Events += "P" + std::to_string(Step) + "/" + std::to_string(Max) + " ";
      Abort = Step == AbortAtStep;
    });
    G.SetOnProgressEnd([this](pg::TObject*) { Events += "E "; });
    G.SetOnChange([this](pg::TObject*) { Events += "C "; });
  }
};

}  // namespace kvtest
