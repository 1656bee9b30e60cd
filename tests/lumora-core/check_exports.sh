#!/bin/sh
# Checks the dynamic symbol table of Lumora-Core: every public class exports its meta-object and
# its constructor taking a parent, the free functions are there, and nothing else of the library's
# namespace (helpers, anonymous namespaces, template instantiations) leaks out.
# Usage: check_exports.sh <path of libLumora-Core.so>
set -u
library="$1"
symbols=$(nm -DC --defined-only "$library") || { echo "nm failed on $library"; exit 1; }
status=0

qobject_classes="Category Category::Instance Functor Toggle FileToggle InputFileToggle
OutputFileToggle NetToggle InputNetToggle OutputNetToggle SDKToggle InputSDKToggle
TimeCursorToggle Source_LM FileSource NetSource SDKSource Buffer RenderBuffer TimeIntervalBuffer
ClipBuffer TrackBuffer"

for class in $qobject_classes; do
  short=${class##*::}
  for wanted in "krell::lumora::$class::staticMetaObject" \
                "krell::lumora::$class::metaObject() const" \
                "krell::lumora::$class::qt_metacast(char const\*)" \
                "krell::lumora::$class::$short(QObject\*)" \
                "krell::lumora::$class::~$short()"; do
    if ! printf '%s\n' "$symbols" | grep -q " $wanted\$"; then
      echo "not exported: $wanted"
      status=1
    fi
  done
done

for wanted in "krell::lumora::Registration::classes" "krell::lumora::Registration::categories" \
              "krell::lumora::global_executor()" "krell::lumora::toTime(QDateTime const&)" \
              "krell::lumora::dateMsTimeString2Time(QString const&)"; do
  if ! printf '%s\n' "$symbols" | grep -q " $wanted"; then
    echo "not exported: $wanted"
    status=1
  fi
done
if ! printf '%s\n' "$symbols" | grep -q " krell::lumora::toQDateTime("; then
  echo "not exported: krell::lumora::toQDateTime"
  status=1
fi

# Every symbol of the namespace must belong to a public class or be one of the free functions.
# Standard-library templates instantiated on our types (std::get_temporary_buffer<ClipBuffer*> in an
# unoptimised build) keep libstdc++'s default visibility; they are not part of our interface.
public="Registration|$(echo $qobject_classes | tr ' ' '|')"
leaked=$(printf '%s\n' "$symbols" | sed 's/^[0-9a-f]* [A-Za-z] //' | grep -v '^std::' | grep 'krell::lumora::' |
  grep -Ev "^(typeinfo for |typeinfo name for |vtable for )?krell::lumora::($public)(::|$)" |
  grep -Ev "^krell::lumora::(global_executor|toQDateTime|toTime|dateMsTimeString2Time)\(" )
if [ -n "$leaked" ]; then
  echo "internal symbols exported:"
  echo "$leaked"
  status=1
fi
if printf '%s\n' "$symbols" | grep -q "anonymous namespace"; then
  echo "anonymous-namespace symbols exported"
  status=1
fi
[ $status -eq 0 ] && echo "exports OK"
exit $status
