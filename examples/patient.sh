# A sample patient for scripts/demo.sh and bench/run.sh, in UTF-8.
# The scripts turn the Japanese names into Shift_JIS (iconv -f UTF-8 -t CP932)
# before they hand them to vestrun, which takes every argument as Shift_JIS.
# Sourced by bash; the order below is the order of vestrun's arguments 3, 5 to 10.
PATIENT_STYLE=0                 # print style flag: 0 append card, anything else rewrite
PATIENT_NUMBER=12345            # patient number, at most 10 bytes
PATIENT_KANJI='山田太郎'         # name in kanji
PATIENT_KANA='ヤマダ　タロウ'     # name in full-width katakana, a full-width blank between the parts
PATIENT_SEX=1                   # sex, one character
PATIENT_BIRTH=19700101          # birth date, YYYYMMDD
PATIENT_FIRST=20240401          # first visit, YYYYMMDD
