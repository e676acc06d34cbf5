# The README for users of the installed program: the project's README.md
# without the sections for developers, with the installing section (the
# first file) in front of the first section.
#   awk -f user-readme.awk installing.md README.md
FNR == NR { installing = installing $0 "\n"; next }
/^```/ { fenced = !fenced }
!fenced && /^## / {
    if (!opened) { printf "%s\n", installing; opened = 1 }
    skipping = ($0 ~ /^## (The two commands|For contributors)[[:space:]]*$/)
}
!skipping { print }
