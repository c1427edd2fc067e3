// Runs one mailing in a program folder and ends: the process that the kill
// test stops at random moments.
//   mailing_runner <program folder> <server> new|redo
#include "RunFixture.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4)
        return 2;
    QString folder = args.at(1);
    if (!folder.endsWith(u'/'))
        folder += u'/';
    bv::test::RunFixture f(folder);
    f.settings.smtpServer = args.at(2);
    f.dialogs.queueAnswer(bv::Answer::Yes);
    f.questionAnswers = {true};
    f.run->btnSendClick(args.at(3) == QLatin1String("redo") ? bv::send::RunKind::Redo
                                                           : bv::send::RunKind::NewMailing);
    for (const QString& text : f.dialogs.texts())
        printf("%s\n", qPrintable(text));
    return 0;
}
