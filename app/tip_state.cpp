#include "app/tip_state.h"

#include "app/settings.h"
#include "platform/folders.h"

void TTipState::Save() {
  SaveTips(SettingsFilePath(), Number, Enabled);
  if (OnSaved) OnSaved();
}
