#!/bin/sh
# Starts Орбелант from the desktop menu. The program reads зендра.xls from its working
# folder, so the launcher runs it in the user's own folder ~/Орбелант. When that folder has
# no workbook (the first start), it gets a copy of the installed sample; a workbook that is
# there is never replaced. Started from a terminal, `orbelant` itself works in the current
# folder and this script is not involved.
#
# Errors are told in Russian on standard error and, for a start from the menu, where no one
# sees standard error, as a desktop notification or a dialog when a tool for that is present.
set -u

here=$(dirname "$(readlink -f "$0")")
program="$here/orbelant"
sample="$here/../share/orbelant/зендра.xls"
workbook_name="зендра.xls"

fail() {
    echo "Орбелант: $1" >&2
    if command -v notify-send >/dev/null 2>&1; then
        notify-send --icon=orbelant "Орбелант не запущен" "$1" 2>/dev/null && exit 1
    fi
    if command -v zenity >/dev/null 2>&1; then
        zenity --error --title="Орбелант" --text="$1" 2>/dev/null
    fi
    exit 1
}

if [ -z "${HOME:-}" ]; then
    fail "Не задана домашняя папка (переменная HOME), поэтому нельзя найти папку «Орбелант» с книгой «$workbook_name»."
fi
workdir="$HOME/Орбелант"
workbook="$workdir/$workbook_name"

if [ -e "$workdir" ] && [ ! -d "$workdir" ]; then
    fail "«$workdir» — файл, а не папка. Переименуйте его, чтобы программа могла создать на его месте папку для книги «$workbook_name»."
fi
if ! mkdir -p "$workdir" 2>/dev/null; then
    fail "Не удалось создать папку «$workdir». Проверьте права доступа к домашней папке."
fi

# A dangling link counts as present too: cp would write through it somewhere else.
if [ ! -e "$workbook" ] && [ ! -L "$workbook" ]; then
    if [ ! -f "$sample" ]; then
        fail "Не найден образец книги «$sample»: переустановите пакет orbelant или положите свою книгу «$workbook_name» в папку «$workdir»."
    fi
    # Copied under a temporary name first, so a failed copy (a full disk) never leaves a
    # truncated workbook that later starts would take for the user's own.
    partial="$workdir/.$workbook_name.$$"
    if ! cp "$sample" "$partial" 2>/dev/null || ! mv "$partial" "$workbook" 2>/dev/null; then
        rm -f "$partial"
        fail "Не удалось скопировать образец книги в «$workbook». Проверьте свободное место и права доступа к папке «$workdir»."
    fi
fi

if [ ! -x "$program" ]; then
    fail "Не найдена программа «$program»: переустановите пакет orbelant."
fi
cd "$workdir" || fail "Не удалось перейти в папку «$workdir»."
exec "$program" "$@"
