// The "Speed profile" dialog: draws the response curve of one axis as sixteen bars whose tops
// the user drags, copies a template into it, applies it to the running tables, and switches the
// profile on or off. Made hidden once at start-up and only ever shown and hidden again.
//
//   CmivexDlgProfile dialog(store, engine, link);   // link tells it the flight page's state
//   dialog.OnInitDialog();                          // loads axis 0, switches the profile as stored
//   link.Attach(&dialog);
#pragma once

#include <QDialog>

class CProfileDialogLink;
class CProfileWindow;
class CSettingsStore;
class IEngineControl;
class QCheckBox;
class QListWidget;
class QPushButton;

class CmivexDlgProfile : public QDialog {
    Q_OBJECT
public:
    CmivexDlgProfile(CSettingsStore& store, IEngineControl& engine, const CProfileDialogLink& link,
                     QWidget* parent = nullptr);

    // Loads axis 0 into the editor, builds the speed tables and sets "Enable profile" and the
    // engine's profile switch: on when the flight page's box is checked (greyed then) or the
    // profile was last enabled.
    void OnInitDialog();

    void ShowDialog();
    // The flight page's "Detect Flightsimulator" changed: checked forces the profile on and greys
    // "Enable profile"; unchecked only makes the box usable again.
    void OnFlightChecked(bool checked);

    // The shown axis's sixteen points in editor order (columns 0..15: points "8".."1", "11".."18").
    void LoadAxisIntoEditor(int axis);
    void SaveAxisFromEditor(int axis);

    CProfileWindow* CurveWindow() const { return m_pWindow; }
    QListWidget* AxisList() const { return m_pAxisList; }
    QListWidget* TemplateList() const { return m_pTemplateList; }
    QCheckBox* EnableProfile() const { return m_pEnable; }
    QPushButton* ApplyButton() const { return m_pApply; }
    int ShownAxis() const { return m_iShownAxis; }

    // The questions the dialog asks; a test answers them instead of a message box.
    using Question = bool (*)(QWidget* parent, const QString& text);
    void SetQuestion(Question question) { m_question = question; }

private:
    class CHeldKeys;

    // Asks the question, Yes or No; a key held down when it opens does not answer it.
    bool Ask(const QString& text);
    void OnAxisChanged(int axis);
    void OnTemplateChosen();
    void OnApply();
    void OnEnableProfile(bool checked);
    void OnOK();
    void SetProfileSwitch(bool on);

    CSettingsStore& m_store;
    IEngineControl& m_engine;
    const CProfileDialogLink& m_link;
    CProfileWindow* m_pWindow;
    QListWidget* m_pAxisList;
    QListWidget* m_pTemplateList;
    QCheckBox* m_pMirror;
    QCheckBox* m_pEnable;
    QPushButton* m_pApply;
    int m_iShownAxis = 0;
    bool m_bInAxisChange = false;      // re-entrancy guard of the axis list
    bool m_bInTemplateChoice = false;  // a template question is open
    CHeldKeys* m_pHeldKeys;
    Question m_question;
};
