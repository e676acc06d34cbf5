#include "tests/support/settings_samples.h"

namespace qm::test {

const QByteArray& defaultSettingsFile()
{
    static const QByteArray file =
        "1,\"9600\",\"\",30,8,\"not used\",0,0\r\n"
        "\"V01 label:\",\"V02 label:\",\"V03 label:\",\"V04 label:\",\"V05 label:\",\"V06 label:\","
        "\"V07 label:\",\"V08 label:\"\r\n"
        "\"W\",\"R\",\"G\",\"B\",\"Y\",\"W\",\"R\",\"G\"\r\n"
        "0,0,0,0,0,0,0,0\r\n"
        "1,1,1,1,1,1,1,1\r\n"
        "\"OUT1\",\"OUT2\",\"OUT3\",\"OUT4\",\"OUT5\",\"OUT6\",\"OUT7\",\"OUT8\"\r\n"
        "99.9,99.9,99.9,99.9,99.9,99.9,99.9,99.9\r\n"
        "0,0,0,0,0,0,0,0\r\n";
    return file;
}

QByteArray settingsFileWithFirstLine(const std::string& firstLine)
{
    return QByteArray::fromStdString(firstLine) + defaultSettingsFile().mid(defaultSettingsFile().indexOf("\r\n"));
}

} // namespace qm::test
