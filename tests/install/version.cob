       IDENTIFICATION DIVISION.
       PROGRAM-ID. QVERSION.
      * The COBOL recipe: a buffer and its 16-bit length, by reference
      * and by value, as the exports take them.
       DATA DIVISION.
       WORKING-STORAGE SECTION.
       01 WS-BUFFER PIC X(20).
       01 WS-LENGTH PIC S9(4) COMP-5 VALUE 20.
       PROCEDURE DIVISION.
           CALL "GetVersion" USING BY REFERENCE WS-BUFFER
                                   BY VALUE WS-LENGTH
           DISPLAY WS-BUFFER
           STOP RUN.
