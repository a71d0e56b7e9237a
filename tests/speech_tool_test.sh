#!/bin/bash
# End-to-end test of ksspeech with the recogniser: the shipped recordings
# recognised and translated with examples/robot.bnf (and robot.gram, and the
# shipped JSGF grammar); coffee orders and a
# dialler command spoken by espeak-ng, with words only the letter-to-sound
# fallback pronounces; the compiled-pair and standard-input forms; and a
# clear error with a non-zero exit for each thing that can be wrong.
# Skipped when the model or the test recordings are not installed.
#   speech_tool_test.sh path/to/ksspeech path/to/examples
set -uo pipefail
usage="usage: speech_tool_test.sh KSSPEECH KSBNFC EXAMPLES_DIR"
tool=${1:?$usage} ksbnfc=${2:?$usage} examples=${3:?$usage}
data=/usr/share/pocketsphinx/test/data
if [ ! -d /usr/share/pocketsphinx/model/en-us/en-us ] || [ ! -r "$data/goforward.raw" ]; then
    echo "SKIP: recogniser model or recordings missing (packages pocketsphinx-en-us, pocketsphinx-testdata)"
    exit 0
fi
. "$(dirname "$0")/lib.sh"
robot=$examples/robot.bnf audio=$data/goforward.raw

json() { # NAME LINE FILE WORDS TRANSLATION
    local line
    line=$(sed -n "${2}p" "$work/out")
    case $line in
    *"\"file\": \"$3\", \"words\": \"$4\", \"accepted\": true, \"translation\": \"$5\","*) ;;
    *) fail "$1: line $2 of the output is\n$line\nexpected words '$4', translation '$5'" ;;
    esac
}

# The shipped recordings, one command from audio to meaning.
run "shipped recordings" 0 = --json "$robot" "$audio" "$data/tidigits/dhd.2934z.raw"
json "goforward" 1 "$audio" "go forward ten meters" "move forward 10 m"
json "digits" 2 "$data/tidigits/dhd.2934z.raw" "two nine three four zero" "digits 29340"
run "text output" 0 "$robot" "$audio"
out_has "text output" "  translation: move forward 10 m"
out_has "text output" "s of audio decoded in"

# JSGF grammars drive the recogniser directly: the shipped one, and the
# tagged robot grammar whose tags give the translation.
run "shipped JSGF grammar" 0 --json --root move "$data/goforward.gram" "$audio"
out_has "goforward.gram" '"words": "go forward ten meters", "accepted": true'
run "tagged JSGF grammar" 0 --json "$examples/robot.gram" "$audio"
json "robot.gram" 1 "$audio" "go forward ten meters" "forward 10 m"

# A damaged acoustic model: its Gaussians are read before the decoder starts,
# so the error is named and nothing is left behind (the sanitizer run checks).
model=/usr/share/pocketsphinx/model/en-us/en-us
mkdir "$work/model"
for f in "$model"/*; do ln -s "$f" "$work/model/"; done
rm "$work/model/means"
head -c 200 "$model/means" >"$work/model/means"
run "truncated model" 2 "=the acoustic model's '$work/model/means' is inconsistent or truncated" --model "$work/model" "$robot" "$audio"

# Already compiled: an engine/translation pair, and a recording on standard input.
"$ksbnfc" -en "$robot" -d "$work" 2>/dev/null && "$ksbnfc" -tr "$robot" -d "$work" 2>/dev/null ||
    fail "robot.bnf does not compile"
cp "$audio" "$work/in"
run "compiled pair from standard input" 0 --json --raw "$work/command.fsg" "$work/command.fst" -
json "compiled pair" 1 "-" "go forward ten meters" "move forward 10 m"

if have espeak-ng && have sox; then
    # espeak-ng speaks at 22050 Hz; sox brings it to the model's 16 kHz.
    # Voice en-us at 140 words a minute is recognised reliably.
    speak() { # TEXT FILE
        espeak-ng -v en-us -s 140 -w "$work/22k.wav" "$1" && sox "$work/22k.wav" -r 16000 -c 1 -b 16 "$2"
    }
    speak "i'd like two large lattes please" "$work/o1.wav"
    speak "can i have three cappuccinos and a tea" "$work/o2.wav"
    speak "i will have four medium americanos" "$work/o3.wav"
    speak "call ben okafor at work" "$work/d1.wav"
    run "coffee orders" 0 --json "$examples/coffee.bnf" "$work/o1.wav" "$work/o2.wav" "$work/o3.wav"
    json "order 1" 1 "$work/o1.wav" "i'd like two large lattes please" "2 large latte"
    json "order 2" 2 "$work/o2.wav" "can i have three cappuccinos and a tea" "3 regular cappuccino, 1 regular tea"
    json "order 3" 3 "$work/o3.wav" "i will have four medium americanos" "4 medium americano"
    # People hesitate: an "um" or "er" is a filler, not a word of the order
    # (it had been heard as "a tea" and the order doubled).
    speak "i'd like um, two large lattes, er, please" "$work/o4.wav"
    run "hesitant order" 0 --json "$examples/coffee.bnf" "$work/o4.wav"
    json "hesitant order" 1 "$work/o4.wav" "i'd like two large lattes please" "2 large latte"
    # A recording that tells what only its maker can mend: clipped, and
    # cut off at 4 kHz; a sound one tells nothing.
    sox "$work/o1.wav" "$work/clipped.wav" gain 24 2>/dev/null
    sox "$work/o1.wav" "$work/narrow.wav" rate 8000 rate 16000
    run "faulty recordings" 0 --json "$examples/coffee.bnf" "$work/clipped.wav" "$work/narrow.wav" "$work/o1.wav"
    out_has "clipped recording" "of the samples are clipped: lower the microphone's input gain\"]"
    out_has "narrowband recording" '"warnings": ["no sound above 4 kHz, as through a telephone'
    [ "$(grep -c '"warnings"' "$work/out")" = 2 ] || fail "a sound recording has warnings:\n$(cat "$work/out")"
    run "faulty recording, text" 0 "$examples/coffee.bnf" "$work/clipped.wav"
    out_has "clipped recording, text" "  warning:     "
    for w in lattes cappuccinos; do err_has "fallback warning" "warning: '$w' is not in the dictionary; espeak-ng pronounces it"; done

    # Intents and slots of a tagged grammar, with its built-in numbers and
    # its list of artists.
    speak "set the thermostat to twenty one degrees" "$work/h1.wav"
    run "home commands" 0 --json --root home -x artist="$examples/artists.txt" "$examples/home.bnf" "$work/h1.wav"
    out_has "home commands" '"intent": "SetTemperature", "slots": {"degrees": 21}'

    run "dialler with its extern" 0 --json -x contact="$examples/contacts.bnf" "$examples/dialer.bnf" "$work/d1.wav"
    out_has "dialler" "ben okafor at work\", \"accepted\": true"
    err_has "dialler" "warning: 'okafor' is not in the dictionary"
    # A slot list as the extern: its words are checked like the grammar's.
    printf 'anna berg\nben okafor : Ben O.\n' >"$work/names.txt"
    run "dialler with a list" 0 --json -x contact="$work/names.txt" "$examples/dialer.bnf" "$work/d1.wav"
    out_has "dialler with a list" "ben okafor at work\", \"accepted\": true"
    run "list word without pronunciation" 2 "=1 word(s) of the grammar have no pronunciation: okafor" \
        --no-espeak -x contact="$work/names.txt" "$examples/dialer.bnf" "$work/d1.wav"

    # A grammar written in UTF-8, in an environment that names no code
    # page: its words reach espeak-ng and the output whole (they had been
    # lowered a byte at a time: "caf\u00e3\u00a9"), as do an ASCII
    # grammar's list of names in UTF-8; the same grammar in 1252 stays
    # 1252. Words espeak-ng marks as palatalised (macchiato) are pronounced.
    speak "a cafe au lait please" "$work/c1.wav"
    speak "call jose garcia" "$work/d2.wav"
    cafe='<<order>> = a (caf%s au lait -> cafe | macchiato -> macchiato) please -> {2} .\n'
    printf "$cafe" $'\303\251' >"$work/utf8.bnf"
    printf "$cafe" $'\351' >"$work/cp1252.bnf"
    printf 'anna berg\njos\303\251 garc\303\255a\n' >"$work/names8.txt"
    (
        unset SPCH_CODEPAGE
        failures=0
        run "UTF-8 grammar" 0 --json "$work/utf8.bnf" "$work/c1.wav"
        json "UTF-8 grammar" 1 "$work/c1.wav" $'a caf\303\251 au lait please' "cafe"
        err_has "UTF-8 grammar" "'macchiato' is not in the dictionary; espeak-ng pronounces it M AE K IH AA T OW"
        run "1252 grammar" 0 --json "$work/cp1252.bnf" "$work/c1.wav"
        json "1252 grammar" 1 "$work/c1.wav" 'a caf\u00e9 au lait please' "cafe"
        run "UTF-8 list" 0 --json -x contact="$work/names8.txt" "$examples/dialer.bnf" "$work/d2.wav"
        out_has "UTF-8 list" $'"words": "call jos\303\251 garc\303\255a", "accepted": true'
        exit $failures
    ) || failures=$((failures + $?))

    # Without the fallback the missing words are listed in one error,
    # unless a dictionary file supplies them.
    run "no fallback" 2 "=2 word(s) of the grammar have no pronunciation: cappuccinos, lattes" --no-espeak "$examples/coffee.bnf" "$work/o1.wav"
    PATH=/nonexistent run "fallback not installed" 2 "$examples/coffee.bnf" "$work/o1.wav"
    err_has "fallback not installed" "espeak-ng, the letter-to-sound fallback, is not installed"
    printf 'LATTES L AA T EY Z\ncappuccinos K AE P AH CH IY N OW Z\n' >"$work/my.dict"
    run "user dictionary" 0 --json --no-espeak --dict "$work/my.dict" "$examples/coffee.bnf" "$work/o1.wav"
    json "user dictionary" 1 "$work/o1.wav" "i'd like two large lattes please" "2 large latte"

    # Listening: two orders with gaps between them, as a WAV stream; then
    # the same cut inside the second, as raw samples, still gives its line.
    sox -n -r 16000 -c 1 -b 16 "$work/gap.wav" trim 0 0.8
    sox "$work/gap.wav" "$work/o1.wav" "$work/gap.wav" "$work/o3.wav" "$work/gap.wav" "$work/stream.wav"
    cp "$work/stream.wav" "$work/in"
    run "listen" 0 --listen "$examples/coffee.bnf"
    out_has "listen, first" '"words": "i'"'"'d like two large lattes please", "accepted": true, "translation": "2 large latte", "intent": null, "slots": {}'
    out_has "listen, second" '"words": "i will have four medium americanos", "accepted": true, "translation": "4 medium americano", "intent": null, "slots": {}'
    [ "$(wc -l <"$work/out")" = 2 ] || fail "listen: expected 2 lines, got\n$(cat "$work/out")"
    sox "$work/stream.wav" -t raw "$work/in" trim 0 -1.5
    run "listen, cut short" 0 --listen "$examples/coffee.bnf"
    [ "$(grep -c '"start"' "$work/out")" = 2 ] || fail "listen, cut short: expected 2 lines, got\n$(cat "$work/out")"
    # A stream's line for an utterance is what the recording of it gives:
    # the live search, whose mean normalisation carries over from the
    # utterances before, serves only the partial words.
    if have flite; then
        flite -t "turn left" -o "$work/f1.wav" && flite -t "seven seven one" -o "$work/f2.wav" &&
            sox -t raw -r 16000 -e signed -b 16 -c 1 "$audio" "$work/f0.wav" &&
            for f in f1 f2; do sox "$work/$f.wav" -r 16000 "$work/${f}r.wav"; done &&
            sox "$work/gap.wav" "$work/f0.wav" "$work/gap.wav" "$work/f1r.wav" "$work/gap.wav" "$work/f2r.wav" \
                "$work/gap.wav" "$work/gap.wav" -t wav "$work/stream3.wav" || fail "flite or sox failed"
        cp "$work/stream3.wav" "$work/in"
        run "listen, as recordings" 0 --listen "$robot"
        sed -n 's/.*"words": "\([^"]*\)".*/\1/p' "$work/out" >"$work/heard"
        "$tool" --json "$robot" "$work/f0.wav" "$work/f1r.wav" "$work/f2r.wav" 2>/dev/null |
            sed -n 's/.*"words": "\([^"]*\)".*/\1/p' >"$work/each"
        cmp -s "$work/heard" "$work/each" ||
            fail "listen, as recordings: the stream gave\n$(cat "$work/heard")\nthe recordings\n$(cat "$work/each")"
        # The live search of --partial changes nothing but the partial lines.
        cp "$work/stream3.wav" "$work/in"
        run "listen, partial words" 0 --listen --partial "$robot"
        grep -q '^{"partial": "[a-z ]*", "start": [0-9.]*}$' "$work/out" || fail "listen, partial words: none in\n$(cat "$work/out")"
        grep -v '^{"partial"' "$work/out" | sed -n 's/.*"words": "\([^"]*\)".*/\1/p' | cmp -s - "$work/heard" ||
            fail "listen, partial words: other lines than without\n$(cat "$work/out")"
    else
        echo "SKIP: flite missing: no stream of several voices"
    fi
    cp "$work/22k.wav" "$work/in"
    run "listen, wrong rate" 2 "=standard input: a WAV stream of format 1, 1 channel(s), 16 bits, 22050 Hz" --listen "$robot"

    run "wrong sample rate" 2 "=22k.wav: sample rate 22050 Hz; the model needs 16000 Hz" "$robot" "$work/22k.wav"
    # A distant microphone: the recording 40 dB down is still understood
    # (the denoiser had taken it for noise and heard "four five").
    sox -t raw -r 16000 -e signed -b 16 -c 1 "$audio" "$work/quiet.wav" vol -40dB
    run "quiet recording" 0 --json "$robot" "$work/quiet.wav"
    json "quiet recording" 1 "$work/quiet.wav" "go forward ten meters" "move forward 10 m"
    # The same microphone, listened to: the segmenter's level came down with
    # it, and the utterance is raised as the recording was (it heard
    # nothing, or "go forward" and "eight two" apart).
    sox "$work/gap.wav" "$work/quiet.wav" "$work/gap.wav" "$work/gap.wav" -t raw "$work/in"
    run "listen, quiet microphone" 0 --listen --raw "$robot"
    out_has "listen, quiet microphone" '"words": "go forward ten meters", "accepted": true'
    [ "$(wc -l <"$work/out")" = 1 ] || fail "listen, quiet microphone: expected 1 line, got\n$(cat "$work/out")"
else
    echo "SKIP: espeak-ng or sox missing: no spoken orders"
fi

# Every search of a recording decodes the same frames: the grammar's and
# the phone loop's scores of the confidence compare the same stretch.
run "one feature pass" 0 -v "$robot" "$audio"
frames=$(sed -n 's/^ksspeech: hypothesis 1 (score -*[0-9]* over \([0-9]*\) frames, .*/\1/p' "$work/err")
loop=$(sed -n 's/^ksspeech: phone loop over \([0-9]*\) frames.*/\1/p' "$work/err")
[ -n "$frames" ] && [ "$frames" = "$loop" ] ||
    fail "one feature pass: the features have '$frames' frames, the phone loop '$loop'\n$(grep '^ksspeech:' "$work/err")"
# A sure result is not searched again by default; --refit-below 1 does,
# and --no-refit never.
! grep -q "refitted" "$work/err" || fail "one feature pass: a result of confidence 0.99 was searched again"
run "second fit" 0 -v --refit-below 1 "$robot" "$audio"
grep -q "^ksspeech: transform (refitted)" "$work/err" || fail "second fit: no second fit to the hypothesis"
out_has "second fit" "  translation: move forward 10 m"
run "no second fit" 0 -v --no-refit --refit-below 1 "$robot" "$audio"
! grep -q "refitted" "$work/err" || fail "no second fit: the transform was fitted again"
out_has "no second fit" "  translation: move forward 10 m"
# Two seconds of a quiet room before the command and after: only the
# speech, with its margins, is decoded; --trim none decodes all of it.
if have sox; then
    sox -R -t raw -r 16000 -e signed -b 16 -c 1 "$audio" "$work/padded.wav" pad 2 2 &&
        sox -R -n -r 16000 -c 1 -b 16 "$work/hiss.wav" synth 6.79 pinknoise vol 0.003 &&
        sox -R -m "$work/padded.wav" "$work/hiss.wav" "$work/room.wav" || fail "sox failed"
    run "speech found" 0 -v "$robot" "$work/room.wav"
    out_has "speech found" "  translation: move forward 10 m"
    span=$(sed -n 's/^ksspeech: speech found from \([0-9.]*\) to \([0-9.]*\) s of 6.79, the rest not decoded$/\1 \2/p' "$work/err")
    awk -v s="$span" 'BEGIN { split(s, t, " "); exit !(t[1] >= 1.9 && t[1] <= 2.6 && t[2] >= 4.4 && t[2] <= 5.4) }' ||
        fail "speech found: expected the command (2.5 to 4.7 s) with its margins, found '$span'\n$(grep '^ksspeech:' "$work/err")"
    run "whole recording" 0 -v --trim none "$robot" "$work/room.wav"
    ! grep -q "speech found" "$work/err" || fail "whole recording: trimmed with --trim none"
fi
run "no spread restoration" 0 -v --spread none "$robot" "$audio"
! grep -q "cepstral spread" "$work/err" || fail "no spread restoration: the cepstra were restored"
out_has "no spread restoration" "  translation: move forward 10 m"

# Speech the grammar does not cover is "not understood" (exit 1), its best
# guess kept; with --threshold 0 every sentence of the grammar is taken.
book=$data/librivox/sense_and_sensibility_01_austen_64kb-0880.wav
run "out of domain" 1 --json "$robot" "$book"
out_has "out of domain" '"understood": false'
run "out of domain, threshold 0" 0 --threshold 0 "$robot" "$audio"
out_has "threshold 0" "  confidence:  "
run "in domain" 0 --json --beam 1e-60 --lw 8 --no-retry "$robot" "$audio"
out_has "in domain" '"understood": true'

# Errors: each names what is wrong and exits 2; a bad recording doesn't
# stop the others.
: >"$work/empty.raw"
cp "$robot" "$work/text.wav"
printf '<<a>> = hello ( world .\n' >"$work/bad.bnf"
cases < <(table speech_errors.txt work robot audio examples)
run "unreadable audio" 2 "=can't open '$work/none.raw'" --json "$robot" "$work/none.raw" "$audio"
out_has "unreadable audio" "\"error\": \"can't open"
out_has "later recordings still decoded" "\"words\": \"go forward ten meters\""
run "nbest" 0 --nbest 5 "$robot" "$audio"
out_has "nbest" "translation: move forward 10 m"
# Ctrl-C inside an utterance: its line, then a clean exit.
mkfifo "$work/fifo"
timeout 60 "$tool" --listen "$robot" <"$work/fifo" >"$work/out" 2>"$work/err" &
pid=$!
exec 3>"$work/fifo"
head -c 80000 "$audio" >&3 # blocks until the model has loaded and read most of it
sleep 1
kill -INT $pid
wait $pid
got=$?
exec 3>&-
[ $got = 0 ] && grep -q '"start": .*"words": "go forward' "$work/out" ||
    fail "listen, Ctrl-C: exit $got, output\n$(cat "$work/out" "$work/err")"

run "help" 0 --help
out_has "help" "--nbest N"
run "listen with a recording" 2 "=no recordings with --listen: unexpected" --listen "$robot" "$audio"
run "bad address" 2 "=--serve: expected tcp://HOST:PORT" --serve localhost:1 "$robot"
run "no such device" 2 "=unknown device 'mic'" --device mic "$robot"
finish "speech tool"
