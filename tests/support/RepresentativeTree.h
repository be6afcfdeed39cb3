#pragma once

#include <QByteArray>
#include <QList>

// The folder tree every file operation is put through in the safety tests:
//
//   top.txt                                  small file
//   Отчёты/2024/итоги.txt                    Cyrillic names, nested
//   Отчёты/2024/глубже/a/b/данные.bin        deeper still, larger than one copy chunk
//   Отчёты/пустой.txt                        empty file
//   caf\xe9-\xff\xfe.bin                     a name that is not valid UTF-8
//   \xff-папка/внутри.txt                    a folder with such a name
//   пустая папка/                            empty folder
//   .скрытый                                 hidden file
//   run.sh                                   executable (0755)
//   ссылка-внутрь -> Отчёты/2024/итоги.txt   relative link inside the tree
//   ссылка-наружу -> <outsideTarget>         absolute link out, when given
//
// Every file has its own pseudo-random content, so no two share a digest.
class RepresentativeTree
{
public:
    // Makes the tree at root (which must not exist yet; its parent must).
    // False, with the reason on stderr, if the file system refuses.
    static bool create(const QByteArray& root, const QByteArray& outsideTarget = {});
    // The content create() writes for a relative path of the given length.
    static QByteArray content(const QByteArray& relative, qint64 size);
};
