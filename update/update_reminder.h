// The update reminder: the update window shows by itself at the first start and then at every
// 101st start, counted in "updateCount".
//
//   const UpdateReminder reminder = AdvanceUpdateReminder(store, !startFailed);
//   if (reminder.show) updateWindow.ShowReminder();
#pragma once

class CSettingsStore;

inline constexpr int kUpdateReminderLimit = 100;

struct UpdateReminder {
    int count = 0;      // as stored now
    bool show = false;  // the reminder is due at this start
};

// Counts this start. A start that cannot show the reminder (the program is ending) leaves it due
// for the next one.
UpdateReminder AdvanceUpdateReminder(CSettingsStore& store, bool canShow);
