#!/usr/bin/env python3
"""Which functions the stub's link may strip of unwind records: the decision
of scripts/prune_link.py on a made-up disassembly, one row per rule."""
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "scripts"))
import prune_link  # noqa: E402

# Section headers (the import table at 0x5000..0x5100), then the functions.
LISTING = """
  5 .idata        00000100  00005000  00005000  00004000  2**2
00001000 <_leaf>:
    1000:\tmov    %eax,%ebx
00001010 <_calls_leaf>:
    1010:\tcall   1000 <_leaf>
00001020 <_calls_windows>:
    1020:\tcall   *0x5010
00001030 <_calls_pointer>:
    1030:\tcall   *0x8(%eax)
00001040 <_throws>:
    1040:\tcall   9000 <___cxa_throw>
00001050 <_calls_thrower>:
    1050:\tcall   1040 <_throws>
00001060 <_tail_jumps_to_thrower>:
    1060:\tjmp    1040 <_throws>
00001070 <_calls_tail_jumper>:
    1070:\tcall   1060 <_tail_jumps_to_thrower>
00001080 <_switch_then_leaf>:
    1080:\tjmp    *0x6000(,%eax,4)
    1088:\tcall   1000 <_leaf>
00001090 <_resumes>:
    1090:\tcall   1000 <_leaf>
    1095:\tcall   9010 <__Unwind_Resume>
000010a0 <_calls_unknown>:
    10a0:\tcall   8000 <_not_disassembled>
000010b0 <_twice>:
    10b0:\tcall   1000 <_leaf>
000010c0 <_twice>:
    10c0:\tcall   1040 <_throws>
00009000 <___cxa_throw>:
    9000:\tcall   *0x5020
00009010 <__Unwind_Resume>:
    9010:\tcall   *0x5030
"""


class QuietFunctions(unittest.TestCase):
    def test_each_rule(self):
        quiet = prune_link.quiet_functions(LISTING)
        cases = {
            "leaf": True,  # calls nothing
            "calls_leaf": True,
            "calls_windows": True,  # through the import table
            "calls_pointer": False,  # could be anything
            "throws": False,
            "calls_thrower": False,
            "tail_jumps_to_thrower": True,  # gone from the stack when it jumps
            "calls_tail_jumper": False,  # but its callers are not
            "switch_then_leaf": True,  # a jump table is no call
            "resumes": False,  # the unwinder reads the records of what calls it
            "calls_unknown": False,
            "twice": False,  # one of two local functions of that name throws
            "__cxa_throw": False,
            "_Unwind_Resume": False,
        }
        for function, expected in cases.items():
            with self.subTest(function=function):
                self.assertEqual(function in quiet, expected)


if __name__ == "__main__":
    unittest.main()
