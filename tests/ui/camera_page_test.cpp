// The camera page offscreen, its 100 ms ticks driven by the test: the live view's marks and
// picture, the lists, "Fps wanted", the tray warnings' rhythm, the restarts, "Set camera", the
// camera settings dialog over a scripted camera, and the recording for a report.
#include <gtest/gtest.h>

#include <QtTest>
#include <QtWidgets>

#include "base/camera_frame.h"
#include "base/logging.h"
#include "capture/camera_recorder.h"
#include "capture/replay_v4l2.h"
#include "output/mouse.h"
#include "output/recording_injector.h"
#include "tests/support/test_support.h"
#include "tests/ui/page_fixture.h"
#include "tracking/thread_camera.h"
#include "ui/camera_controls_dialog.h"
#include "ui/camera_page.h"
#include "ui/live_view.h"
#include "ui/main_sheet.h"
#include "ui/settings_pages.h"

namespace {

TEST(LiveViewMarks, ScaleFramesWiderThanTheViewTruncateAndHoldWithinTheFrame) {
    // clang-format off
    const struct { int width, height; std::optional<HeadRect> head; int headX, headY; bool stretched;
                   std::optional<ViewRect> drawnHead; ViewRect drawnPosition; } cases[] = {
        {640, 480, HeadRect{120, 80, 320, 280}, 320, 240, true, ViewRect{60, 40, 160, 140}, {159, 119, 161, 121}},
        {320, 240, std::nullopt, 3, 3, false, std::nullopt, {8, 8, 8, 8}},
        {320, 240, HeadRect{0, -4, 400, 300}, 400, 300, false, ViewRect{1, 1, 319, 239}, {312, 232, 312, 232}},
        {1280, 720, HeadRect{5, 3, 1279, 719}, 641, 363, true, ViewRect{1, 1, 319, 239}, {159, 120, 160, 121}},
    };
    // clang-format on
    for (const auto& c : cases) {
        const LiveViewMarks marks = LiveViewMarks::Compute(c.width, c.height, c.head, c.headX, c.headY);
        EXPECT_TRUE(marks.stretched == c.stretched && marks.head == c.drawnHead && marks.position == c.drawnPosition)
            << c.width << " x " << c.height;
    }
}

TEST(LiveViewPixels, AColourFrameThroughPreparationIsDrawnUprightAsItIsOrScaledIntoTheView) {
    // Every view pixel its own colour (column in blue and red, row in green), the frame made of
    // blocks of scale x scale such pixels, so drawing at 1 : 1 or scaled down must show exactly it.
    QImage picture(LiveViewMarks::kWidth, LiveViewMarks::kHeight, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) picture.setPixel(x, y, qRgb(x < 256 ? 40 : 200, y, x % 256));
    for (const int scale : {1, 2}) {
        const int width = scale * picture.width(), height = scale * picture.height();
        const QImage scaled = picture.scaled(width, height).convertToFormat(QImage::Format_BGR888);
        std::vector<std::uint8_t> sample(CaptureFrameLength(width, height));
        for (int y = 0; y < height; ++y)
            std::copy_n(scaled.constScanLine(y), 3 * width, sample.begin() + y * CaptureRowStep(width));

        CTrackingState state;
        state.m_bLiveView = true;
        CThreadCamera preparation(state, nullptr, width, height);
        ColourFrame frame(sample.data(), width, height);
        preparation.ProcessFrame(frame);
        std::vector<std::uint8_t> live;
        ASSERT_TRUE(state.m_liveView.ReadLatest(live)) << width;
        LiveViewMarks marks = LiveViewMarks::Compute(width, height, std::nullopt, 0, 0);
        marks.position = {-9, -9, -9, -9};  // the position mark off the picture
        CLiveView view;
        view.PaintLiveView(width, height, live, marks);

        const QImage shown = view.grab().toImage().convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(shown.size(), picture.size()) << width;
        int wrong = 0;
        QPoint first;
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x)
                if (shown.pixel(x, y) != picture.pixel(x, y) && wrong++ == 0) first = {x, y};
        EXPECT_EQ(wrong, 0) << width << " x " << height << ": view pixel " << first.x() << "," << first.y() << " shows "
                            << std::hex << shown.pixel(first) << ", not " << picture.pixel(first);
    }
}

CScriptedCapture::Device Camera(const std::string& name) {
    return {{name, "", ""}, {{true, 24, 320, 240}, {true, 24, 640, 480}}};
}

class CameraPage : public PageFixture {
protected:
    void SetUp() override {
        host.log = &log;
        log.Open();
        sheet.AddPage(page);
        sheet.AddPage(new CMyPropertyPageToolTips);
        QObject::connect(&sheet, &CmivexDlgMain::balloonShown,
                         [this](const QString& title) { balloons.emplace_back(tick * 100, title.toStdString()); });
    }
    // Ticks the page, with the frames of that rate arriving.
    void Tick(int ticks, int framesPerSecond = 12) {
        for (int i = 0; i < ticks; ++i) {
            // Each status update sees 2.2 s of frames, counted as fps over two seconds.
            if (++tick % 22 == 0) engine.status.frames += 2 * framesPerSecond;
            page->OnTimer();
        }
    }

    test::TempDir data;
    CLogging log{store, data.path()};
    int screenHeight = 768;
    int tick = 0;
    std::atomic<bool> stopAll{false};
    CmivexDlgMain sheet{stopAll};
    CmivexDlgCamera* page = new CmivexDlgCamera(host, [this] { return screenHeight; });
    std::vector<std::pair<int, std::string>> balloons;  // when, in ms of ticks, and title
    QSignalSpy closed{&sheet, &CmivexDlgMain::programClosed};
};

TEST_F(CameraPage, ListsAtMostNineCamerasAndTheFormatsAndDrawsTheLatestFrameWithTheHead) {
    std::vector<CScriptedCapture::Device> cameras(12, Camera("Cam"));
    for (int i = 0; i < 12; ++i) cameras[i].info.friendlyName = "Cam " + std::to_string(i);
    engine.RunCamera(cameras, 2);
    engine.status = {.frames = 0, .points = 7, .headFound = true, .head = {120, 80, 320, 280}, .cameraRunning = true};
    engine.display.headX = 320, engine.display.headY = 240;
    // Top-down rows: the first 40 in memory are the top of the picture.
    engine.liveFrame.assign(CaptureFrameLength(640, 480), 0);
    std::fill_n(engine.liveFrame.begin(), CaptureRowStep(640) * 40, 255);
    sheet.SetActivePage(0);
    page->ShowHeadDetect()->setChecked(true);
    Tick(22);

    EXPECT_EQ(std::make_tuple(page->CameraList()->count(), page->CameraList()->currentItem()->text(),
                              page->FormatList()->currentItem()->text()),
              std::make_tuple(9, QString("Cam 2"), QString("640 x 480")));
    EXPECT_EQ(std::tuple(page->FpsCamera()->text(), page->Information()->toPlainText(), engine.morePointsGranted),
              std::tuple(QString("12  "),
                         QString("Cam 2\nCamera resolution: width: 640 , height: 480\nTracking points  : 7"), 3));

    const QImage shown = page->LiveView()->grab().toImage();
    EXPECT_TRUE(shown.pixelColor(100, 10) == Qt::white && shown.pixelColor(100, 100) == Qt::black) << "upside down";
    EXPECT_EQ(std::pair(shown.pixelColor(60, 90), shown.pixelColor(159, 120)),
              std::pair(QColor(Qt::blue), QColor(Qt::green)))
        << "the head's rectangle and position";

    sheet.SetActivePage(1);
    EXPECT_FALSE(engine.liveView) << "the live view runs on while the page is not current";
}

TEST_F(CameraPage, SetCameraStoresTheChosenFormatsWidthAndHeightAndTheCamera) {
    // Two formats of one width: only the height tells them apart at the next start.
    engine.RunCamera({{{"Cam", "", ""}, {{true, 24, 640, 480}, {true, 24, 640, 360}}}, Camera("Other")});
    sheet.SetActivePage(0);
    Tick(1);
    page->FormatList()->setCurrentRow(1);
    page->CameraList()->setCurrentRow(1);
    QTimer::singleShot(0, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->button(QMessageBox::Yes)->click();
    });
    page->SetCameraButton()->click();
    EXPECT_EQ(std::make_tuple(store.Read(Setting::kCameraWidth), store.Read(Setting::kCameraHeight),
                              store.Read(Setting::kCameraSelected), store.Read(Setting::kRebootResolution)),
              std::make_tuple(640, 360, 1, 1));
    EXPECT_EQ(closed.count(), 1);
}

TEST_F(CameraPage, FpsWantedAppliesANumberAtOnceAndStoresEvenNoneWithoutTouchingTheCamera) {
    const std::tuple<const char*, int, std::vector<std::string>> cases[] = {
        {"15", 15, {"Stop", "SetFrameInterval 666666", "Run"}}, {"0", 0, {}}, {"abc", 0, {}}};
    for (const auto& [typed, stored, applied] : cases) {
        CScriptedCapture& layer = engine.RunCamera({Camera("Cam")});
        CmivexDlgCamera fresh(host);
        fresh.Activate();
        const std::size_t before = layer.Calls().size();
        fresh.FpsWanted()->setText(typed);
        EXPECT_EQ(store.Read(Setting::kCameraFps), stored) << typed;
        const std::vector<std::string> calls = layer.Calls();
        EXPECT_EQ(std::vector(calls.begin() + before, calls.end()), applied) << typed;
        store.Write(Setting::kCameraFps, 12);
    }
}

TEST_F(CameraPage, WarnsOfAPersistingConditionAtTheFirstCheckAndEveryThird) {
    const std::tuple<int, int, const char*> cases[] = {
        {5, 9, "Frame rate low"}, {12, 3, "Tracking is poor"}, {12, 9, nullptr}, {2, 9, nullptr}};
    engine.RunCamera({Camera("Cam")});
    for (const auto& [fps, points, warning] : cases) {
        std::unique_ptr<CmivexDlgCamera> watched(page = new CmivexDlgCamera(host, [] { return 768; }));
        sheet.AddPage(page);
        engine.status.points = points, engine.status.frames = 0;
        balloons.clear(), tick = 0;
        Tick(7 * 264, fps);  // seven checks, 26.4 s apart
        decltype(balloons) expected;
        if (warning)
            for (int ms : {26'400, 105'600, 184'800}) expected.emplace_back(ms, warning);
        EXPECT_EQ(balloons, expected) << fps << " fps, " << points << " points";
    }
    EXPECT_EQ(closed.count(), 0);
}

TEST_F(CameraPage, NoFramesOrAnotherScreenHeightRestartOnce) {
    engine.RunCamera({Camera("Cam")});
    // Frames per second, the screen's height after the first status, logged, restart count (7 before).
    for (const auto& [fps, height, logged, count] : {std::tuple{12, 600, false, 0}, std::tuple{0, 768, true, 7}}) {
        store.Write(Setting::kRebootCount, 7);
        CmivexDlgMain window(stopAll);
        window.AddPage(page = new CmivexDlgCamera(host, [this] { return screenHeight; }));
        QSignalSpy ended(&window, &CmivexDlgMain::programClosed);
        screenHeight = 768;
        Tick(22, fps);
        screenHeight = height;
        Tick(44, fps);
        EXPECT_TRUE(QTest::qWaitFor([&] { return window.RestartRequested(); }, 5000)) << fps;
        EXPECT_EQ(std::make_pair(ended.count(), store.Read(Setting::kRebootCount)),
                  std::make_pair(qsizetype{1}, count));
        const std::string line = "\r\nCamera error: fps == 0, rebooting\r\n";
        EXPECT_EQ(test::ReadFile(log.FilePath()).find(line) != std::string::npos, logged) << fps;
    }
}

TEST_F(CameraPage, AReplayedCameraWithoutFramesIsNotRestartedAndSaysWhyOnce) {
    host.replayedCamera = true;
    engine.RunCamera({Camera("Recording face.mkv")});
    Tick(3 * 22, 0);
    EXPECT_EQ(closed.count(), 0);
    EXPECT_TRUE(page->Information()->toPlainText().endsWith(
        "The recording played as the camera delivers no frames (the log says why); Mivex! does not restart for it"));
    const std::string logged = test::ReadFile(log.FilePath());
    const std::string line =
        "Camera error: fps == 0, not rebooting: the recording played as the camera would end "
        "the same way again\r\n";
    EXPECT_EQ(logged.find(line), logged.rfind(line));
    EXPECT_NE(logged.find(line), std::string::npos);
}

TEST_F(CameraPage, RecordForAReportSaysWhatItShowsFirstThenRecordsTenSecondsIntoTheStateFolderAndSaysWhere) {
    const test::TempDir state;
    const test::ScopedEnv stateHome("XDG_STATE_HOME", state.path().string());
    CCameraRecorder recorder;
    engine.RunCamera({Camera("Cam")});
    QPushButton& button = *page->RecordReportButton();
    // Only for a webcam that runs, and not while it is a recording played again.
    for (const auto& [recording, replayed, enabled] :
         {std::tuple{false, false, false}, std::tuple{true, true, false}, std::tuple{true, false, true}}) {
        host.cameraRecorder = recording ? &recorder : nullptr;
        host.replayedCamera = replayed;
        page->OnTimer();
        EXPECT_EQ(button.isEnabled(), enabled) << recording << replayed;
    }
    QString asked;
    auto answer = [&asked](QMessageBox::StandardButton choice) {
        QTimer::singleShot(0, [&asked, choice] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                asked = box->text(), box->button(choice)->click();
        });
    };
    answer(QMessageBox::No);
    button.click();
    EXPECT_TRUE(asked.startsWith("The recording shows what the camera sees: your face and your room."))
        << asked.toStdString();
    EXPECT_EQ(recorder.Progress().state, CCameraRecorder::State::Idle);
    answer(QMessageBox::Yes);
    button.click();
    EXPECT_EQ(std::tuple(recorder.Progress().state, button.text(), button.isEnabled()),
              std::tuple(CCameraRecorder::State::Waiting, QString("Recording..."), false));

    // Twelve seconds of the webcam's buffers, ten a second: ten seconds of them are kept.
    auto webcam = ReplayV4l2::Webcam(V4L2_PIX_FMT_YUYV, {64, 48}, {});
    const int fd = webcam->Open("/dev/video0");
    v4l2_format format{};
    format.fmt.pix.width = 64, format.fmt.pix.height = 48, format.fmt.pix.pixelformat = V4L2_PIX_FMT_YUYV;
    webcam->Ioctl(fd, VIDIOC_S_FMT, &format);
    const std::vector<std::uint8_t> bytes(64 * 48 * 2, 128);
    for (int i = 0; i < 120; ++i) {
        v4l2_buffer buffer{};
        buffer.timestamp.tv_sec = i / 10, buffer.timestamp.tv_usec = i % 10 * 100'000;
        recorder.Take(*webcam, fd, buffer, bytes);
    }
    page->OnTimer();
    const CCameraRecorder::Status status = recorder.Progress();
    ASSERT_EQ(status.state, CCameraRecorder::State::Done) << status.error;
    EXPECT_EQ(status.file.parent_path(), state.path() / "KordO" / "Mivex");
    EXPECT_TRUE(status.file.filename().string().starts_with("MivexCamera-")) << status.file;
    EXPECT_EQ(status.buffers, 100);
    auto* said = page->findChild<QMessageBox*>();
    ASSERT_NE(said, nullptr);
    EXPECT_TRUE(said->text().startsWith("Recorded 9.9 s of the camera (") &&
                said->text().contains(QString::fromStdString(status.file.string())))
        << said->text().toStdString();
    EXPECT_EQ(std::tuple(button.text(), button.isEnabled()), std::tuple(QString("Record 10 s for a report"), true));
    const std::string logged = test::ReadFile(log.FilePath());
    EXPECT_NE(logged.find("Camera recorded for a report: " + status.file.string() + ", 100 frames, "),
              std::string::npos)
        << logged;
}

TEST_F(CameraPage, CameraSetupShowsTheCamerasSettingsChangesThemAtOnceAndShowsARefusal) {
    using Kind = CaptureControl::Kind;
    CScriptedCapture& layer = engine.RunCamera({Camera("Cam")});
    // clang-format off
    layer.SetControls({{.id = 1, .name = "Brightness", .maximum = 255, .defaultValue = 128, .value = 40},
                       {.id = 2, .name = "Power Line Frequency", .kind = Kind::Menu, .maximum = 2, .value = 1,
                        .menu = {{0, "Disabled"}, {1, "50 Hz"}, {2, "60 Hz"}}},
                       {.id = 3, .name = "Exposure", .maximum = 5000, .value = 300, .inactive = true},
                       {.id = 4, .name = "Focus", .maximum = 1, .error = "Input/output error"}});
    // clang-format on
    layer.FailSetControl(1, "Device or resource busy");
    page->Activate();
    page->OnTimer();
    page->CameraSetupButton()->click();
    CCameraControlsDialog& dialog = *page->CameraControls();
    auto* menu = qobject_cast<QComboBox*>(dialog.Editor(2));
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->currentText(), "50 Hz");
    EXPECT_FALSE(dialog.Editor(3)->isEnabled() || dialog.Editor(4)->isEnabled()) << "inactive, or unreadable";
    EXPECT_EQ(dialog.ErrorText(), "Focus: Input/output error");

    QTest::keyClick(menu, Qt::Key_Down);  // activates "60 Hz"
    EXPECT_EQ(layer.Calls().back(), "SetControl 2 2");
    qobject_cast<QSlider*>(dialog.Editor(1))->setValue(90);
    EXPECT_EQ(dialog.ErrorText(), "Brightness: Device or resource busy\nFocus: Input/output error");
    EXPECT_EQ(qobject_cast<QSlider*>(dialog.Editor(1))->value(), 40) << "shows the value the camera kept";
    dialog.ResetButton()->click();
    EXPECT_EQ(layer.Calls().back(), "SetControl 2 0");
}

}  // namespace
