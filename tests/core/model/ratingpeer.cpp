// A second process sharing a ratings file with the test: reads one command a
// line from stdin and answers each with one line once it is done.
//   set <rating> <path>   rates and waits until the save is merged -> "ok"
//   burst <n> <rating> <prefix>
//                         rates <prefix>0.jpg .. <prefix>(n-1).jpg as fast as
//                         it can, then waits for the saves -> "ok"
//   get <path>            -> the rating this process holds
//   count                 -> how many ratings this process holds
//   cache <file> <photo> <rating> <unwritten photo>
//                         adds an entry and a photo whose sidecar write
//                         failed to the in-file ratings cache <file> -> "ok"
#include "model/StarRatingStore.h"
#include "model/WorkQueues.h"
#include "state/InFileRatingCache.h"

#include <QCoreApplication>
#include <QTextStream>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: ratingpeer RATINGS_FILE\n");
        return 2;
    }
    WorkQueues queues;
    StarRatingStore store(QString::fromLocal8Bit(argv[1]), queues);
    QTextStream in(stdin);
    QTextStream out(stdout);
    QString line;
    while (in.readLineInto(&line)) {
        const QString command = line.section(QLatin1Char(' '), 0, 0);
        if (command == QLatin1String("set")) {
            store.setRating(line.section(QLatin1Char(' '), 1, 1).toInt(),
                            line.section(QLatin1Char(' '), 2));
            store.waitForSaved();
            out << "ok\n";
        } else if (command == QLatin1String("burst")) {
            const int count = line.section(QLatin1Char(' '), 1, 1).toInt();
            const int rating = line.section(QLatin1Char(' '), 2, 2).toInt();
            const QString prefix = line.section(QLatin1Char(' '), 3);
            for (int n = 0; n < count; ++n)
                store.setRating(rating, prefix + QString::number(n) + QStringLiteral(".jpg"));
            store.waitForSaved();
            out << "ok\n";
        } else if (command == QLatin1String("get")) {
            out << store.rating(line.section(QLatin1Char(' '), 1)) << '\n';
        } else if (command == QLatin1String("cache")) {
            const QString file = line.section(QLatin1Char(' '), 1, 1);
            InFileRatingCache cache = InFileRatingCache::load(file);
            cache.entries.insert(
                line.section(QLatin1Char(' '), 2, 2),
                {QStringLiteral("peer"), line.section(QLatin1Char(' '), 3, 3).toInt()});
            cache.unwritten.insert(line.section(QLatin1Char(' '), 4, 4));
            out << (cache.save(file) ? "ok\n" : "failed\n");
        } else if (command == QLatin1String("count")) {
            out << store.count() << '\n';
        } else {
            out << "unknown command\n";
        }
        out.flush();
    }
    return 0;
}
