// A loadable library without "regist_classes": category files naming it must be refused.
extern "C" __attribute__((visibility("default"))) int lumora_test_empty_plugin_marker() {
    return 1;
}
