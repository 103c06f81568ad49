#include "control/control_list.h"

namespace tavolen {

ControlList& controlList() {
  static ControlList* list = new ControlList([](CTavolenCtrl& control) { control.cancel(); });
  return *list;
}

}  // namespace tavolen
