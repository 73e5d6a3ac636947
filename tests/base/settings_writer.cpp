// Test helper: fills the settings with known values, then rewrites one key until killed.
#include "base/settings_store.h"

int main() {
    CSettingsStore store;
    for (int axis = 0; axis < 2; ++axis)
        for (int point = 0; point < Setting::kProfilePointsPerAxis; ++point)
            store.Write(Setting::kProfilePoints[axis][point], 20 + axis * 100 + point);
    store.Write(Setting::kProfileEnable, 1);
    for (int count = 0;; ++count) store.Write(Setting::kUpdateCount, count);
}
