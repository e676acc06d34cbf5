#include "app/files.h"
#include "app/main_form.h"
#include "device/serial_port.h"
#include "settings/settings_file.h"

#include <cmath>

namespace qm {

namespace {

// Takes the boxes' texts over, converting each; the first entry that is not
// valid is remembered for the status line and stops the conversion.
class BoxReader {
public:
    explicit BoxReader(const QLocale& locale)
        : locale_(locale)
    {
    }

    // A whole number in the user's number format, blanks around it allowed,
    // a half rounding to the even neighbour; -32768..32767.
    void integer(Control& box, const QString& name, Integer& out)
    {
        if (failed())
            return;
        bool ok = false;
        const double v = locale_.toDouble(box.text().trimmed(), &ok);
        const double rounded = ok ? std::nearbyint(v) : 0.0;
        if (!ok || !std::isfinite(v) || rounded < -32768.0 || rounded > 32767.0)
            return fail(box, name);
        out = static_cast<Integer>(rounded);
    }

    // A number in the user's number format, as the nearest Single.
    void single(Control& box, const QString& name, Single& out)
    {
        if (failed())
            return;
        bool ok = false;
        const float v = locale_.toFloat(box.text().trimmed(), &ok);
        if (!ok || !std::isfinite(v))
            return fail(box, name);
        out = v;
    }

    // Text the file can hold: Latin-1, without a double quote or line break.
    void text(Control& box, const QString& name, String& out)
    {
        if (failed())
            return;
        const QString& t = box.text();
        for (const QChar c : t) {
            if (c.unicode() > 0xFF || c == QLatin1Char('"') || c == QLatin1Char('\r') ||
                c == QLatin1Char('\n'))
                return fail(box, name);
        }
        out = t.toLatin1().toStdString();
    }

    bool failed() const { return !message_.isEmpty(); }
    const QString& message() const { return message_; }

private:
    // The box keeps the reason until it is edited, so the refusal stays in
    // sight after the status line has moved on.
    void fail(Control& box, const QString& name)
    {
        message_ = QStringLiteral("Invalid entry in ") + name + QStringLiteral(": ") + box.text();
        box.setError(message_);
    }

    const QLocale& locale_;
    QString message_;
};

} // namespace

bool MainForm::SaveSettings()
{
    // The marks of the last attempt go; this one marks what it refuses.
    forEachControl([](Control& c) { c.setError({}); });

    // Every box is read and converted before anything changes.
    BoxReader read(locale_);
    SettingsValues s;
    read.integer(txtSet1[1], QStringLiteral("COM port"), s.ComPort);
    read.text(txtSet1[2], QStringLiteral("Baud"), s.Baud);
    read.text(txtSet1[3], QStringLiteral("ID"), s.DevId);
    read.integer(txtSet1[4], QStringLiteral("STime"), s.STime);
    read.integer(txtSet1[5], QStringLiteral("RVnr"), s.RVnr);
    if (s.RVnr < 1)
        s.RVnr = 1;
    if (s.RVnr > 8)
        s.RVnr = 8;
    s.BPass = BPass;
    if (txtBPass.enabled())
        read.text(txtBPass, QStringLiteral("BPass"), s.BPass);
    s.LogOn = Chk1.checked() ? 1 : 0;
    s.WavOn = Chk2.checked() ? 1 : 0;
    for (int i = 1; i <= 8; ++i) {
        const QString row = QStringLiteral("V%1 ").arg(i);
        const QString panel = QStringLiteral("V0%1 ").arg(i);
        read.text(txtSetLabel1[i], row + QStringLiteral("label"), s.MyLabel[i]);
        read.text(txtSetColor1[i], row + QStringLiteral("color"), s.VColor[i]);
        read.single(txtSetNR1[i], row + QStringLiteral("Nr1"), s.Nr1[i]);
        read.single(txtSetNR2[i], row + QStringLiteral("Nr2"), s.Nr2[i]);
        read.text(txtOutName[i], QStringLiteral("Out%1 name").arg(i), s.OutName[i]);
        read.single(txtSetHi[i], panel + QStringLiteral("Set Hi"), s.SetHi[i]);
        read.single(txtSetLo[i], panel + QStringLiteral("Set Lo"), s.SetLo[i]);
    }
    if (read.failed()) {
        lblStatus.setBackColor(colors::kStatusFailure);
        lblStatus.setText(read.message());
        return false;
    }

    // Written beside the old file and renamed over it: a crash or a full disk
    // leaves the previous file whole.
    if (!replaceFile(IniFile, writeSettingsFile(s))) {
        const QString message =
            QStringLiteral("Cannot write settings file ") + QString::fromUtf8(IniFile);
        lblStatus.setBackColor(colors::kStatusFailure);
        lblStatus.setText(message);
        // Every save button fails alike until the file can be written: each
        // keeps the reason in sight.
        cmdExit.setError(message);
        for (int i = 1; i <= 8; ++i)
            cmdSave[i].setError(message);
        return false;
    }

    if (ReInit && port_.portOpen()) {
        (void)port_.setPortOpen(false);
        RxBuf.clear(); // a line cut off by the close must not run into the next one
    }

    useSettings(s);

    if (ReInit)
        InitApp();
    return true;
}

} // namespace qm
