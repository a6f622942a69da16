#!/bin/sh
# Slot numbers belong to the engine list (src/core/run/EngineList.cpp): code
# that needs to know which engine owns a slot, or how many units it has, asks
# the list. This check fails on a slot number written as a literal in slot
# context anywhere else under src/ (or under the directories given):
#   - a per-slot array indexed by a number: test_enabled[26], results[70];
#   - a slot variable compared with or offset by a number other than 0:
#     slot == 3, slot - 90, m_testID >= 6, kSlotMaths + 1;
#   - a number passed where a slot is expected: SlotName(4), EngineFor(28),
#     performTest(3), RecordError(206, ...) with three arguments.
# Comments and string literals are ignored.
set -eu
cd "$(dirname "$0")/.."
[ $# -gt 0 ] || set -- src

find "$@" \( -name '*.cpp' -o -name '*.h' \) ! -path 'src/core/run/EngineList.cpp' | sort | xargs perl -e '
    my $arrays = qr/\b(?:test_enabled|duty_cycle|results|accum_results|classes|accum_classes|thread_active
        |gThreadData|ChildProc|gTestModules|testWindow|m_icons)\s*\[\s*\d+\s*\]/x;
    my $slotVar = qr/\b(?!kNum)\w*(?:[sS]lot|testID|test_id)\w*\b/;
    my $compare = qr/$slotVar\s*(?:==|!=|<=|>=|<(?!<)|>(?!>)|[-+](?![-+=>]))\s*(?:0*[1-9]\d*)\b
        |\b(?:0*[1-9]\d*)\s*(?:==|!=|<=|>=|<|>)\s*$slotVar/x;
    my $calls = qr/\b(?:SlotName|SlotIcon|EngineFor|performTest|SlotActive|SetSlotActive|SetSlotLaunching
        |SlotGeneration|SlotThreadsAlive|SlotGroup|AddCycle|AddOperations|AddMegabytes|LeaveSlot
        |UpdateErrorClassificationResults|CreateGraphicsWindow)\s*\(\s*\d+\s*[,)]
        |\b(?:SlotDisplayName|ResultsRowName|CreateTestWindow)\s*\([^,()]*,\s*\d+\s*[,)]
        |\bRecordError\s*\(\s*\d+\s*,[^,()]*,/x;
    my $found = 0;
    for my $file (@ARGV) {
        open(my $fh, "<", $file) or die "$file: $!";
        local $/;
        my $text = <$fh>;
        close($fh);
        my @orig = split /\n/, $text, -1;
        # Blank out comments and literals, keeping the line breaks.
        $text =~ s{(/\*.*?\*/|//[^\n]*|"(?:\\.|[^"\\\n])*"|\x27(?:\\.|[^\x27\\\n])*\x27)}
                  {my $m = $1; $m =~ s/[^\n]/ /g; $m}gse;
        my $n = 0;
        for my $line (split /\n/, $text, -1) {
            ++$n;
            if ($line =~ /$arrays|$compare|$calls/) {
                print "$file:$n: $orig[$n - 1]\n";
                $found = 1;
            }
        }
    }
    exit $found;
' || { echo "slot-number literals outside src/core/run/EngineList.cpp: ask the engine list" >&2; exit 1; }
