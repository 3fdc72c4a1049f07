// The owner a plugin dialog or message box is given. The host hands over its main window as a
// plain handle, and the owner slot keeps whatever window was current; a handle that is no
// window (a broken host value, or a window closed since) makes the dialog or box fail to
// appear, so it means no owner.
#pragma once

namespace kelvro {

// `window` when it is a window, else null.
void* UsableOwnerWindow(void* window);

}  // namespace kelvro
