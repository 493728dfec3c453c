// A second process on the test's ratings file, one command a line, one answer each: "set
// <rating> <path>", "burst <n> <rating> <prefix>" (<prefix>0.jpg.. at once), "ok" once merged;
// "get <path>", "count"; "cache <file> <photo> <rating> <unwritten>" adds to that cache.
// Given a marks file too: "flag|label <name> <path>", "flags <n> <name> <prefix>" (at once),
// "ok" once merged; "marks" answers their count.
#include "model/CullingMarkStore.h"
#include "model/StarRatingStore.h"
#include "model/WorkQueues.h"
#include "state/InFileRatingCache.h"

#include <QCoreApplication>
#include <QTextStream>
#include <optional>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    WorkQueues queues;
    StarRatingStore store(QCoreApplication::arguments().value(1), queues);
    std::optional<CullingMarkStore> marks;
    if (argc > 2)
        marks.emplace(QCoreApplication::arguments().value(2), queues);
    QTextStream in(stdin);
    QTextStream out(stdout);
    QString line;
    while (in.readLineInto(&line)) {
        const auto word = [&line](int n) { return line.section(QLatin1Char(' '), n, n); };
        const QString command = word(0);
        if (command == QLatin1String("set")) {
            store.setRating(word(1).toInt(), line.section(QLatin1Char(' '), 2));
            store.waitForSaved();
            out << "ok\n";
        } else if (command == QLatin1String("burst")) {
            for (int n = 0; n < word(1).toInt(); ++n)
                store.setRating(word(2).toInt(), word(3) + QString::number(n) + ".jpg");
            store.waitForSaved();
            out << "ok\n";
        } else if (command == QLatin1String("get")) {
            out << store.rating(line.section(QLatin1Char(' '), 1)) << '\n';
        } else if (command == QLatin1String("count")) {
            out << store.count() << '\n';
        } else if (command == QLatin1String("cache")) {
            InFileRatingCache cache = InFileRatingCache::load(word(1));
            cache.entries.insert(word(2), {QStringLiteral("peer"), word(3).toInt(), {}});
            cache.unwritten.insert(word(4));
            out << (cache.save(word(1)) ? "ok\n" : "failed\n");
        } else if (marks &&
                   (command == QLatin1String("flag") || command == QLatin1String("label"))) {
            const QString path = line.section(QLatin1Char(' '), 2);
            if (command == QLatin1String("flag"))
                marks->setFlag(path, CullingMark::flagFromName(word(1)));
            else
                marks->setLabel(path, CullingMark::labelFromName(word(1)));
            marks->waitForSaved();
            out << "ok\n";
        } else if (marks && command == QLatin1String("flags")) {
            for (int n = 0; n < word(1).toInt(); ++n)
                marks->setFlag(word(3) + QString::number(n) + ".jpg",
                               CullingMark::flagFromName(word(2)));
            marks->waitForSaved();
            out << "ok\n";
        } else if (marks && command == QLatin1String("marks")) {
            out << marks->count() << '\n';
        }
        out.flush();
    }
    return 0;
}
