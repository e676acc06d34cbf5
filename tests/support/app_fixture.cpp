#include "tests/support/app_fixture.h"

#include <QDir>
#include <QFile>

#include <clocale>
#include <cstdlib>

namespace qm::test {

std::vector<QString> StatusRecorder::shown() const
{
    std::vector<QString> out;
    for (const auto& e : texts)
        if (out.empty() || out.back() != e.text)
            out.push_back(e.text);
    return out;
}

bool StatusRecorder::contains(const QString& text) const
{
    for (const auto& e : texts)
        if (e.text == text)
            return true;
    return false;
}

int StatusRecorder::count(const QString& text) const
{
    int n = 0;
    for (const QString& t : shown())
        n += t == text;
    return n;
}

DecimalCommaLocale::DecimalCommaLocale()
{
    const char* current = std::setlocale(LC_ALL, nullptr);
    previous_ = current ? current : "C";
    ::setenv("LOCPATH", QM_LOCALE_DIR, 1);
    std::setlocale(LC_ALL, "de_DE.UTF-8");
}

DecimalCommaLocale::~DecimalCommaLocale()
{
    std::setlocale(LC_ALL, previous_.c_str());
}

bool DecimalCommaLocale::active() const
{
    return std::string(std::localeconv()->decimal_point) == ",";
}

AppFixture::AppFixture(QString name, QLocale loc) : programName(std::move(name)), locale(loc) {}

AppFixture::~AppFixture() = default;

QString AppFixture::settingsPath() const
{
    return QDir(tmp.path()).filePath(programName + QStringLiteral(".ini"));
}

void AppFixture::writeSettings(const QByteArray& bytes)
{
    QFile f(settingsPath());
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error("cannot write settings file");
    f.write(bytes);
}

MainForm& AppFixture::create()
{
    Platform p{loop, port, sound, dialogs, wallClock, ProgramPaths{programName.toUtf8(), tmp.path().toUtf8()},
               locale};
    form = std::make_unique<MainForm>(p);
    form->lblStatus.setObserver(&status);
    return *form;
}

MainForm& AppFixture::start()
{
    create();
    form->Form_Load();
    return *form;
}

} // namespace qm::test
