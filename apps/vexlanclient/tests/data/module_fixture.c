/* A component-like library for the module loader's tests. */
int vexlan_fixture_answer(void) {
    return 42;
}
int vexlan_fixture_value = 7;
