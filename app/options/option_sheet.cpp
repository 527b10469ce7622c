#include "option_sheet.h"

#include <QApplication>
#include <QEventLoop>
#include <QThread>

#include "edit_state.h"
#include "host.h"
#include "option_pages.h"
#include "program_tables.h"

namespace tavrelcut {

bool runOptionSheet(QWidget* parent, tavrel::EditState& state, const OptionSheetHost& host, tavrel::Settings& chosen) {
    if (state.pidListSource != state.inputPath) state.pidList.clear();
    state.pidListSource = state.inputPath;

    tavrel::Settings settings = state.settings;
    TreePropertySheet sheet(QStringLiteral("Option"), TreePropertySheet::Options{}, host.messages, parent);
    sheet.addPage(new EditPage(settings, host.messages));
    sheet.addPage(new ClippingPage(settings, state.pidList, QString::fromStdString(state.inputPath), host.getPids,
                                   host.messages));
    sheet.addPage(new StatusPage(settings));
    if (sheet.exec() != QDialog::Accepted) return false;
    chosen = settings;
    return true;
}

void acquirePidListAside(tavrel::EditState& state, tavrel::JobHost& host) {
    // The acquisition works on a state of its own; what it changes comes
    // back once it has ended.
    tavrel::EditState aside;
    aside.inputPath = state.inputPath;
    aside.geometry = state.geometry;
    aside.streamVideoPid = state.streamVideoPid;
    const int64_t start = state.currentPacket;
    state.pidList.clear();

    QApplication::setOverrideCursor(Qt::WaitCursor);
    QEventLoop loop;
    QThread* worker = QThread::create(
        [&aside, &host, start] { tavrel::acquirePids(aside, host, start, tavrel::ProgramListChoice::Clipping); });
    QObject::connect(worker, &QThread::finished, &loop, &QEventLoop::quit);
    worker->start();
    if (worker->isRunning() || worker->isFinished()) {
        if (!worker->isFinished()) loop.exec(QEventLoop::ExcludeUserInputEvents);
        worker->wait();
    } else {
        host.showMessage("error", "ＧＯＰ情報取得スレッドの作成に失敗しました", tavrel::MsgKind::Ok);
    }
    delete worker;
    QApplication::restoreOverrideCursor();

    state.pidList = std::move(aside.pidList);
    state.geometry = aside.geometry;
    state.streamVideoPid = aside.streamVideoPid;
}

}  // namespace tavrelcut
