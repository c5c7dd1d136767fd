# Prints the incident lines that dlt-receive -a shows, in the form of the file sink
# ("<level> <text>"), with the numbered parts of long lines ("#S K/N piece") joined.
#
#   dlt-receive -a -p 3490 localhost | awk -v app=DMSM -f platform/ara_log/dlt-join.awk
#
# Without -v app=ID every application's log messages are printed. Parts are keyed by
# application id and S; a line is printed when its last missing part arrives.
match($0, / log (fatal|error|warn|info|debug|verbose) V [0-9]+ \[/) {
    if (app != "" && $6 != substr(app "----", 1, 4)) next
    split(substr($0, RSTART + 1, RLENGTH - 1), head, " ")
    level = head[2]
    text = substr($0, RSTART + RLENGTH)
    sub(/\]$/, "", text)
    if (match(text, /^#[0-9]+ [0-9]+\/[0-9]+ /)) {
        split(substr(text, 2, RLENGTH - 2), number, /[ \/]/)
        key = $6 " " number[1]
        piece[key, number[2]] = substr(text, RLENGTH + 1)
        if (++seen[key] < number[3]) next
        text = ""
        for (k = 1; k <= number[3]; ++k) {
            text = text piece[key, k]
            delete piece[key, k]
        }
        delete seen[key]
    }
    print level " " text
    fflush()
}
