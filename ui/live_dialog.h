// The hidden live video dialog: created at start-up and never shown. Its picture control is the
// window that the capture is attached to; the camera page draws the live picture itself.
//
//   CmivexDlgLive live;
//   engine.AttachCamera(reinterpret_cast<WindowToken>(live.Picture()));
#pragma once

#include <QDialog>

class CmivexDlgLive : public QDialog {
    Q_OBJECT
public:
    explicit CmivexDlgLive(QWidget* parent = nullptr);

    QWidget* Picture() const { return m_pPicture; }

private:
    QWidget* m_pPicture = nullptr;
};
