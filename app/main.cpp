#include "app/mainwindow.h"
#include "app/quitonsignal.h"
#include "app/singleinstance.h"
#include "ui/users/picturedecoder.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    // A child that decodes one picture of another user: nothing of the program is started.
    if (PictureDecoder::IsChildRun(argc, argv))
        return PictureDecoder::RunChild(argc, argv);

    QApplication app(argc, argv);

    // Installed first, so that from the moment the instance lock exists a SIGTERM or SIGINT
    // ends the program through the shut-down sequence.
    QuitOnSignal quitOnSignal;

    // One instance per user login; a second start leaves quietly.
    SingleInstance instance("TavrinelQt");
    if (instance.isRunning())
        return 0;

    int result = 0;
    {
        MainWindow window;
        window.setVisible(true);
        window.Init();
        // A signal that came while Init still ran (the first-run dialog, say) is not lost.
        if (!quitOnSignal.quitRequested())
            result = app.exec();
    }
    return result;
}
