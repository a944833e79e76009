// The window on a screen with two device pixels per point. Qt reads the scale factor once, when
// the application starts, so the scale-2 window is built by a second run of this test program
// (QT_SCALE_FACTOR=2), which writes down what it saw for the first run to compare.

#include "LauncherFixture.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"
#include "ui/LineLimitedLabel.h"

#include <QLabel>
#include <QPixmap>

#include <string>

namespace {

using HiDpi = LauncherFixture;

// Set in the second run: the folder it writes what it saw into.
constexpr const char* outputFolderVariable = "AM_HIDPI_OUTPUT";

// Every named view's frame and font size in device-independent pixels, and how many lines each
// line-limited label draws: what must not change with the screen's density.
std::string layoutOf(const QWidget& window) {
    std::string layout;
    for (const QWidget* view : window.findChildren<QWidget*>()) {
        if (view->objectName().isEmpty()) {
            continue;
        }
        const QRect frame = view->geometry();
        layout += view->objectName().toStdString() + " " + std::to_string(frame.x()) + "," +
                  std::to_string(frame.y()) + " " + std::to_string(frame.width()) + "x" +
                  std::to_string(frame.height()) + " font " +
                  std::to_string(view->font().pixelSize());
        if (const auto* label = dynamic_cast<const LineLimitedLabel*>(view)) {
            layout += " lines " + std::to_string(label->visibleLines().size());
        }
        layout += "\n";
    }
    return layout;
}

// "1520x400 @2": size in device pixels and device pixels per point.
std::string sizeOf(const QPixmap& picture) {
    return std::to_string(picture.width()) + "x" + std::to_string(picture.height()) + " @" +
           std::to_string(static_cast<int>(picture.devicePixelRatio()));
}

TEST_F(HiDpi, WindowKeepsItsLayoutAndDrawsEveryDevicePixelAtScaleTwo) {
    installed = "1.3.9";
    launcher.storeManifest(Manifest::parse("version=1.4.0"));
    launcher.renderNotes(parseChangelog("## 1.4.0 | 2026-12-06\n+ Salvage runs drop shards"));
    launcher.updateVersionLine("UPDATED");
    QWidget& window = *launcher.widget();

    if (const QByteArray folder = qgetenv(outputFolderVariable); !folder.isEmpty()) {
        const std::filesystem::path output(folder.toStdString());
        writeFile(output / "layout.txt", layoutOf(window));
        writeFile(output / "pictures.txt", "window " + sizeOf(window.grab()) + "\nbanner " +
                                               sizeOf(view<QLabel>("banner").pixmap()) + "\n");
        return;
    }

    const TempDir output;
    Subprocess scaled(
        "/proc/self/exe",
        {"--gtest_filter=HiDpi.WindowKeepsItsLayoutAndDrawsEveryDevicePixelAtScaleTwo"},
        {{"QT_SCALE_FACTOR", "2"}, {outputFolderVariable, output.path().string()}});
    ASSERT_EQ(scaled.wait(), 0) << scaled.standardOutput() << scaled.standardError();

    EXPECT_EQ(readFile(output / "layout.txt"), layoutOf(window));
    // Every device pixel drawn, and the banner's own 1520 x 400 picture rather than the
    // 760 x 200 one stretched.
    EXPECT_EQ(readFile(output / "pictures.txt"), "window 1520x1120 @2\nbanner 1520x400 @2\n");
}

} // namespace
