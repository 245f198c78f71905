"""Writes the JSON conformance documents (read as bytes, as the json codec and json.loads of bytes
read them: a leading UTF-8 byte-order mark is dropped by both) of this folder, one file each (NAME.json), and differences.txt,
the documents on which load-json deliberately differs from python3's json.loads, with the reason.
Run: python3 make_cases.py (from any folder); the output is committed beside it."""
import os

HERE = os.path.dirname(os.path.abspath(__file__))

CASES = {
    # numbers
    "num_int": "42", "num_int_ws": " \t\r\n42 \n", "num_neg_zero": "-0", "num_zero": "0",
    "num_frac": "1.5", "num_neg_exp": "-1.5e10", "num_exp_upper": "1E2", "num_exp_minus": "2E-2",
    "num_exp_plus": "1e+3", "num_frac_exp": "0.5e1", "num_int_max": "2147483647",
    "num_int_min": "-2147483648", "num_float_max": "1.7976931348623157e308", "num_float_tiny": "5e-324",
    "num_many_digits": "3.141592653589793238462643383279", "num_in_array": "[0,-1,1.25,-0.0,1e-7]",
    "bad_leading_zero": "01", "bad_plus": "+1", "bad_lead_dot": ".5", "bad_trail_dot": "1.",
    "bad_exp_empty": "1e", "bad_exp_sign_only": "1e+", "bad_minus_only": "-", "bad_double_minus": "--1",
    "bad_hex": "0x10", "bad_neg_leading_zero": "-01", "bad_frac_no_digits": "1.e3",
    # strings
    "str_empty": '""', "str_plain": '"abc"', "str_escapes": r'"\" \\ \/ \b \f \n \r \t"',
    "str_u_lower": r'"\u00e9"', "str_u_upper": r'"\u00E9"', "str_u_zero": r'"a\u0000b"',
    "str_pair": r'"\uD83D\uDE00"', "str_pair_lower": r'"x\ud83d\ude00y"', "str_low_alone": r'"\uDE00"',
    "str_utf8": '"é ü € 😀"', "str_del": '"a\x7fb"', "str_nbsp": '"a\u00a0b"', "str_solidus": '"a/b"',
    "bad_str_unterminated": '"abc', "bad_str_single_quote": "'abc'", "bad_str_tab": '"a\tb"',
    "bad_str_lf": '"a\nb"', "bad_str_ctrl": '"a\x01b"', "bad_str_esc_x": r'"\x41"',
    "bad_str_u_short": r'"\u12"', "bad_str_u_nonhex": r'"\u12G4"', "bad_str_esc_upper_n": r'"\N"',
    "bad_str_backslash_end": '"\\"',
    # literals
    "lit_true": "true", "lit_false": "false", "lit_null": "null", "lit_in_array": "[true,false,null]",
    "bad_True": "True", "bad_NULL": "NULL", "bad_nul": "nul", "bad_truex": "truex",
    # containers
    "arr_empty": "[]", "obj_empty": "{}", "arr_nested": "[[[]],[{}],[1,[2,[3]]]]",
    "obj_nested": '{"a":{"b":{"c":[1,{"d":null}]}}}', "obj_order": '{"z":1,"a":2,"m":3,"b c":4,"1a":5}',
    "obj_case_keys": '{"a":1,"A":2}', "obj_dup_keys": '{"k":1,"K":2,"k":3}', "obj_empty_key": '{"":0}',
    "obj_keys_odd": '{"x:y":1,"a b":2,"a-b":3,"é":4,"true":5,"+1":6,"a$":7,"#x":8}',
    "ws_everywhere": ' \n{ "a" : [ 1 , 2 ] , "b" :\r\n{ } }\t',
    "bad_arr_trailing_comma": "[1,]", "bad_obj_trailing_comma": '{"a":1,}', "bad_arr_missing_comma": "[1 2]",
    "bad_obj_missing_colon": '{"a" 1}', "bad_obj_unquoted_key": "{a:1}", "bad_obj_single_key": "{'a':1}",
    "bad_arr_leading_comma": "[,1]", "bad_arr_unclosed": "[1,2", "bad_obj_unclosed": '{"a":1',
    "bad_arr_extra_close": "[1]]", "bad_obj_num_key": "{1:2}", "bad_colon_in_arr": '["a":1]',
    # whitespace, empty input, trailing text, comments, byte-order mark
    "bad_empty": "", "bad_blank": "  \n ", "bad_two_values": "1 2", "bad_trailing_text": "[] x",
    "bad_comment_line": "[1] // c", "bad_comment_block": "/* c */ 1", "bom_bytes": "\ufeff[1]",
    "bad_form_feed_ws": "\f1", "bad_vtab_ws": "\x0b1", "bad_nbsp_ws": "\u00a01",
    # deep but within both parsers' limits
    "deep_100": "[" * 100 + "]" * 100,
    # python3 accepts these: see differences.txt
    "py_nan": "NaN", "py_infinity": "Infinity", "py_neg_infinity": "-Infinity",
    "py_lone_high": r'"\uD83D"', "py_high_then_char": r'"\uD83Dx"',
    "py_big_int": "12345678901234567890", "py_int_over": "2147483648",
}

DIFFERENCES = {
    "py_nan": "python3 accepts NaN, which is not JSON",
    "py_infinity": "python3 accepts Infinity, which is not JSON",
    "py_neg_infinity": "python3 accepts -Infinity, which is not JSON",
    "py_lone_high": "python3 keeps a lone high surrogate; a string cannot hold one here (invalid-data)",
    "py_high_then_char": "python3 keeps a lone high surrogate; a string cannot hold one here (invalid-data)",
    "py_big_int": "integers are 32-bit: beyond the range the number loads as a float",
    "py_int_over": "integers are 32-bit: beyond the range the number loads as a float",
}

if __name__ == "__main__":
    for name in os.listdir(HERE):
        if name.endswith(".json"):
            os.remove(os.path.join(HERE, name))
    for name, text in CASES.items():
        with open(os.path.join(HERE, name + ".json"), "wb") as f:
            f.write(text.encode("utf-8"))
    with open(os.path.join(HERE, "differences.txt"), "w", encoding="utf-8") as f:
        for name, why in DIFFERENCES.items():
            f.write(f"{name}\t{why}\n")
