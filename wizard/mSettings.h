// The wizard's options kept between runs: read once at load, written at close.
#pragma once

namespace wizard {

class frmMain;

void LoadSettings(frmMain& form);
void SaveSettings(frmMain& form);

}  // namespace wizard
