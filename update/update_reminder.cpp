#include "update/update_reminder.h"

#include "base/settings_store.h"

UpdateReminder AdvanceUpdateReminder(CSettingsStore& store, bool canShow) {
    const int stored = store.Read(Setting::kUpdateCount);
    // A hand-edited huge count is due, and must not overflow.
    UpdateReminder reminder{stored > kUpdateReminderLimit ? kUpdateReminderLimit + 1 : stored + 1};
    if (reminder.count > kUpdateReminderLimit && canShow) reminder = {0, true};
    store.Write(Setting::kUpdateCount, reminder.count);
    return reminder;
}
