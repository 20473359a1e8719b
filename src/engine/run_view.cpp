#include "engine/run_view.h"

namespace voxtrel {

const char* ControlName(Control control) {
  switch (control) {
    case Control::kLabel1: return "Label1";
    case Control::kLabel2: return "Label2";
    case Control::kLabel3: return "Label3";
    case Control::kLabel4: return "Label4";
    case Control::kLabel5: return "Label5";
    case Control::kLabel7: return "Label7";
    case Control::kLabel8: return "Label8";
    case Control::kCommand1: return "Command1";
    case Control::kCommand2: return "Command2";
    case Control::kCommand3: return "Command3";
    case Control::kDir1: return "Dir1";
    case Control::kText1: return "Text1";
    case Control::kMenuF000: return "f000";
  }
  return "?";
}

}  // namespace voxtrel
