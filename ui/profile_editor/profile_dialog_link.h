// How the pages reach the speed profile dialog, which the program makes only after every page
// has initialised: the profile buttons show it, and the flight page's "Detect Flightsimulator"
// box decides whether the dialog's "Enable profile" may be changed by hand.
//
//   CProfileDialogLink link;          // handed to the pages
//   link.SetFlightChecked(true);      // flight page, at its initialisation or on a click
//   link.Attach(&dialog);             // the program, once the dialog exists
//   link.ShowDialog();                // a profile button
#pragma once

class CmivexDlgProfile;

class CProfileDialogLink {
public:
    // The dialog reads FlightChecked at its initialisation and is told of every later change.
    void Attach(CmivexDlgProfile* dialog) { m_pDialog = dialog; }

    // Shows the dialog and brings it to the front; nothing before Attach.
    void ShowDialog();

    void SetFlightChecked(bool checked);
    bool FlightChecked() const { return m_bFlightChecked; }

private:
    CmivexDlgProfile* m_pDialog = nullptr;
    bool m_bFlightChecked = false;
};
