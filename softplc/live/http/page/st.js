// Structured Text split into tokens, for the program view: keywords, types, literals, comments and
// names, each with its text, so that a line can be drawn highlighted and its variables found. A
// comment may span lines: the state carries from one line to the next.
'use strict';

const ST_KEYWORDS = new Set([
  'PROGRAM', 'END_PROGRAM', 'FUNCTION_BLOCK', 'END_FUNCTION_BLOCK', 'FUNCTION', 'END_FUNCTION',
  'VAR', 'VAR_INPUT', 'VAR_OUTPUT', 'VAR_IN_OUT', 'VAR_TEMP', 'VAR_GLOBAL', 'VAR_EXTERNAL', 'END_VAR',
  'CONSTANT', 'RETAIN', 'IF', 'THEN', 'ELSIF', 'ELSE', 'END_IF', 'CASE', 'OF', 'END_CASE', 'FOR', 'TO',
  'BY', 'DO', 'END_FOR', 'WHILE', 'END_WHILE', 'REPEAT', 'UNTIL', 'END_REPEAT', 'EXIT', 'RETURN',
  'AND', 'OR', 'XOR', 'NOT', 'MOD', 'AT',
]);

// The elementary types and the standard function blocks.
const ST_TYPES = new Set([
  'BOOL', 'SINT', 'INT', 'DINT', 'LINT', 'USINT', 'UINT', 'UDINT', 'ULINT', 'REAL', 'LREAL', 'TIME',
  'LTIME', 'DATE', 'TIME_OF_DAY', 'TOD', 'DATE_AND_TIME', 'DT', 'STRING', 'WSTRING', 'BYTE', 'WORD',
  'DWORD', 'LWORD', 'TON', 'TOF', 'TP', 'R_TRIG', 'F_TRIG', 'CTU', 'CTD', 'CTUD', 'SR', 'RS',
]);

// In the order they are tried at each place of a line; the first that matches takes the text.
const ST_RULES = [
  ['space', /^\s+/],
  ['comment', /^\/\/.*/],
  ['string', /^'(?:\$.|[^'$])*'|^"(?:\$.|[^"$])*"/],
  // T#1s500ms, TIME#-2.5h, D#2024-01-31, TOD#12:00:00, DT#...
  ['literal', /^(?:T|TIME|LT|LTIME|D|DATE|TOD|TIME_OF_DAY|LTOD|DT|DATE_AND_TIME|LDT)#[-+]?[0-9A-Za-z_.:-]+/i],
  // 16#FF, INT#5, 1.5E-3, 1_000
  ['literal', /^(?:[A-Za-z_]\w*#)?(?:\d+#[0-9A-Fa-f_]+|\d[\d_]*(?:\.\d[\d_]*)?(?:[eE][-+]?\d+)?)(?![\w#])/],
  ['name', /^[A-Za-z_]\w*(?:\.[A-Za-z_]\w*)*/],
  ['operator', /^(?::=|=>|<=|>=|<>|\*\*|[-+*/=<>&])/],
  ['punctuation', /^[();:,.[\]#]/],
];

// The tokens of each line: [{kind, text}], kind 'space', 'comment', 'string', 'literal', 'keyword',
// 'type', 'name', 'operator' or 'punctuation'. The texts of a line's tokens make up the line.
function tokenizeST(lines) {
  let inComment = false;
  return lines.map((line) => {
    const tokens = [];
    let rest = line;
    while (rest.length > 0) {
      let kind;
      let text;
      if (inComment || rest.startsWith('(*')) {
        const end = rest.indexOf('*)', inComment ? 0 : 2);
        inComment = end < 0;
        kind = 'comment';
        text = inComment ? rest : rest.slice(0, end + 2);
      } else {
        for (const [rule, pattern] of ST_RULES) {
          const found = pattern.exec(rest);
          if (found) {
            kind = rule;
            text = found[0];
            break;
          }
        }
        if (text === undefined) {   // a character no rule knows: shown as it is
          kind = 'punctuation';
          text = rest[0];
        }
        if (kind === 'name') {
          const upper = text.toUpperCase();
          if (ST_KEYWORDS.has(upper)) kind = 'keyword';
          else if (ST_TYPES.has(upper)) kind = 'type';
          else if (upper === 'TRUE' || upper === 'FALSE') kind = 'literal';
        }
      }
      tokens.push({ kind, text });
      rest = rest.slice(text.length);
    }
    return tokens;
  });
}
