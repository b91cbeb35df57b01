// Commands whose windows and services are built by later work: song
// pictures and banners. They
// exist now so that menus, timers and other windows can invoke them.

#include "TForm1.h"

namespace tolvane {

void TForm1::Button13xClick() {}
void TForm1::Button15Click() {}
void TForm1::Button13Click() {}
void TForm1::Button16Click() {}
void TForm1::Timer5Timer() {}
void TForm1::Timer7Timer() {}

} // namespace tolvane
