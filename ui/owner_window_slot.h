// The window that owns the plugin's message boxes and dialogs: the host's main window, or
// the plugin dialog that is open, so that a box shown while a dialog is open belongs to that
// dialog (it stays in front of it and the dialog waits for it).
#pragma once

namespace kelvro {

class OwnerWindowSlot {
 public:
  virtual ~OwnerWindowSlot() = default;
  virtual void* owner_window() const = 0;
  virtual void SetOwnerWindow(void* window) = 0;
};

}  // namespace kelvro
