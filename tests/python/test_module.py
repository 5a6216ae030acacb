"""Module start-up: attribute list, binding cells, version, one interpreter."""

import importlib
import sys

import pytest

import quillmere as q
from quillmere import _native

EXPECTED_ALL = [
    "Success", "Fault", "NumFormat", "cast_bool", "cast_char", "cast_i8", "cast_i16", "cast_i32", "cast_i64",
    "cast_u8", "cast_u16", "cast_u32", "cast_u64", "cast_f32", "cast_f64", "cast_decimal", "cast_uuid",
    "cast_timestamp", "cast_unix", "cast_excel_serial", "cast_date", "cast_datetime", "cast_time", "cast_duration",
    "cast_decimal_from_float", "cast_excel_serial_from_float", "cast_excel_time", "cast_excel_duration",
    "native_version", "_bind",
]
# The column backend: module attributes for the package, outside __all__.
COLUMN_BACKEND = ["_cast_column", "_fault_columns", "_arrow_data_from_bytes"]


def test_attribute_list_in_order():
    assert _native.__all__ == EXPECTED_ALL
    public = [name for name in vars(_native) if not name.startswith("__")]
    assert public == EXPECTED_ALL + COLUMN_BACKEND


def test_functions_report_the_module_and_a_text_signature():
    for name in EXPECTED_ALL[3:]:
        fn = getattr(_native, name)
        assert fn.__module__ == "quillmere._native"
        assert fn.__text_signature__ is not None, name
    assert _native.cast_date.__text_signature__ == "(text, order=None)"
    assert _native._bind.__text_signature__ == "(cast_failure)"
    assert _native.native_version.__text_signature__ == "()"
    assert _native.cast_bool.__doc__ == "Casts boolean text under the natural-language lexicon."


def test_classes_report_the_package():
    for cls in (q.Success, q.Fault, q.NumFormat):
        assert cls.__module__ == "quillmere"
        with pytest.raises(TypeError):
            type("Sub", (cls,), {})


def test_version():
    assert _native.native_version() == "0.8.0" == q.__version__


def test_package_exports():
    assert q.CastFailure.EMPTY == 1 and q.CastFailure.MALFORMED == 2 and q.CastFailure.OUT_OF_RANGE == 3
    assert [m.value for m in q.DateOrder] == [1, 2, 3] and q.DateOrder.DMY.name == "DMY"
    assert [m.value for m in q.UnixPrecision] == [1, 2, 3, 4]
    assert [m.value for m in q.ExcelEpoch] == [1, 2]
    for name in EXPECTED_ALL[:-1]:
        assert getattr(q, name) is getattr(_native, name)
    assert "_bind" not in q.__all__ and "CastFailure" in q.__all__


def test_reimport_yields_the_same_module():
    saved = sys.modules.pop("quillmere._native")
    try:
        again = importlib.import_module("quillmere._native")
        assert again is saved
    finally:
        sys.modules["quillmere._native"] = saved


def test_faults_carry_the_bound_members():
    assert q.cast_bool("x").reason is q.CastFailure.MALFORMED
    assert q.cast_bool("").reason is q.CastFailure.EMPTY


def test_second_bind_keeps_the_first_members():
    class Other:
        EMPTY = "e"
        MALFORMED = "m"
        OUT_OF_RANGE = "o"

    assert _native._bind(Other) is None
    assert q.cast_bool("x").reason is q.CastFailure.MALFORMED


def test_before_bind_only_what_needs_no_binding_works(run_fresh):
    out = run_fresh(
        """
        fmt = native.NumFormat.INVARIANT
        print(native.cast_bool("yes"), native.native_version())
        for call in (lambda: native.cast_bool("x"), lambda: native.cast_date("2024-01-01"),
                     lambda: native.cast_i32("x", fmt)):
            try:
                call()
            except RuntimeError as e:
                print(e)
        try:
            native.cast_date("2024-01-01", 0)  # arguments are checked before binding
        except ValueError as e:
            print(e)
        """,
        unbound=True,
    )
    assert out == [
        "Success(value=True) 0.8.0",
        "quillmere._native used before _bind",
        "quillmere._native used before _bind",
        "quillmere._native used before _bind",
        "order must be a DateOrder",
    ]


def test_failed_bind_keeps_what_it_stored(run_fresh):
    out = run_fresh(
        """
        class OnlyEmpty:
            EMPTY = "empty!"
        for arg in (object(), OnlyEmpty):
            try:
                native._bind(arg)
            except AttributeError:
                print("AttributeError")
        print(native.cast_bool("").reason)
        try:
            native.cast_bool("x")
        except RuntimeError as e:
            print(e)
        class Full:
            EMPTY, MALFORMED, OUT_OF_RANGE = "E", "M", "O"
        print(native._bind(Full))
        print(native.cast_bool("").reason, native.cast_bool("x").reason)
        print(native.cast_date("2024-01-31"))
        """,
        unbound=True,
    )
    assert out == [
        "AttributeError",
        "AttributeError",
        "empty!",
        "quillmere._native used before _bind",
        "None",
        "empty! M",
        "Success(value=datetime.date(2024, 1, 31))",
    ]


def test_second_interpreter_is_refused(run_fresh):
    out = run_fresh(
        """
        import sys
        import quillmere
        try:
            import _interpreters as interp  # 3.13
            make = lambda: interp.create("legacy")
            run = lambda i, code: interp.exec(i, code)
        except ImportError:
            try:
                import _xxsubinterpreters as interp
            except ImportError:
                print("skip")
                raise SystemExit
            make = (lambda: interp.create(isolated=False)) if sys.version_info >= (3, 12) else interp.create
            run = interp.run_string
        sub = make()
        code = "try:\\n import quillmere._native\\n print('imported')\\nexcept ImportError as e:\\n print('refused', 'sub-interpreters' in str(e))\\n"
        result = run(sub, code)
        if result is not None and getattr(result, "type", None) is not None:
            print("failed", result)
        """
    )
    if out == ["skip"]:
        pytest.skip("this interpreter cannot start a sub-interpreter")
    assert out == ["refused True"]
